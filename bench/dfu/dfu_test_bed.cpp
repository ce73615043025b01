#include "dfu_test_bed.h"

#include "cleanup_registry.h"
#include "preload.h"

#include <QFile>
#include <QProcess>

#include <cstdio>

namespace dfutest {

bool start(char **argv)
{
    std::string error;
    if (!wheelemu::reexecUnderPreload(argv, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    wheelemu::installSignalCleanup();
    return true;
}

ProcessResult run(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(timeoutMs))
        return {false, -1, program + ": " + p.errorString()};
    ProcessResult r;
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = QString::fromLocal8Bit(p.readAll());
    return r;
}

DfuTestBed::DfuTestBed() : transcript_(std::make_shared<wheelemu::Transcript>())
{
    transcript_->keepInMemory(true);
    testbed_ = wheelemu::Testbed::create(&error_);
    if (testbed_)
        loop_ = std::make_unique<wheelemu::DeviceLoop>();
}

DfuTestBed::~DfuTestBed()
{
    loop_.reset();
    testbed_.reset();
}

bool writeFile(const QString &path, const std::vector<uint8_t> &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size())) ==
               qint64(bytes.size());
}

} // namespace dfutest
