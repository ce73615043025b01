// quorset-demo: the program as `make demo` runs it, against the emulated
// wheel and a local update server.
//
//     quorset-demo [--update-base URL] [--ca FILE]
//
// The program proper reads no options and no environment of its own: its
// update server is fixed when it is built and trusted through the system's
// certificate store. The demo's server lives on 127.0.0.1 with a
// certificate authority made for the run, so this separate entry point
// takes both from its arguments, and trusts that authority in this process
// only (certificates are still verified).
#include "app/mainwindow.h"
#include "app/single_instance.h"
#include "device/model_layout.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSslConfiguration>
#include <QtPlugin>

#include <cstdio>

Q_IMPORT_PLUGIN(ResourcePngPlugin)

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("QuorSet against a local update server"));
    parser.addHelpOption();
    const QCommandLineOption base(QStringLiteral("update-base"),
                                  QStringLiteral("Base URL of the update server (its /upgrade/ folder)."),
                                  QStringLiteral("url"));
    const QCommandLineOption ca(QStringLiteral("ca"),
                                QStringLiteral("PEM file of a certificate authority to trust."),
                                QStringLiteral("file"));
    parser.addOption(base);
    parser.addOption(ca);
    parser.process(app);

    if (parser.isSet(ca)) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        if (!ssl.addCaCertificates(parser.value(ca))) {
            std::fprintf(stderr, "quorset-demo: no certificate in %s\n", qPrintable(parser.value(ca)));
            return 2;
        }
        QSslConfiguration::setDefaultConfiguration(ssl);
    }
    if (parser.isSet(base))
        setUpdateBaseUrl(parser.value(base));

    const SingleInstance::Start start = SingleInstance::claimOrHandOver();
    if (start.handedOver)
        return SingleInstance::refusedStartExitCode;
    MainWindow window(nullptr, Qt::FramelessWindowHint);
    window.show();
    return app.exec();
}
