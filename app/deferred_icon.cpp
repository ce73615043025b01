#include "app/deferred_icon.h"

#include <QIconEngine>

#include <utility>

namespace {

class FileOnFirstUseEngine : public QIconEngine
{
public:
    explicit FileOnFirstUseEngine(QString fileName) : fileName_(std::move(fileName)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return icon().pixmap(size, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    bool isNull() override { return icon().isNull(); }
    QString key() const override { return QStringLiteral("FileOnFirstUseEngine"); }
    QIconEngine *clone() const override { return new FileOnFirstUseEngine(*this); }

private:
    const QIcon &icon()
    {
        if (!read_) {
            icon_ = QIcon(fileName_);
            read_ = true;
        }
        return icon_;
    }

    QString fileName_;
    QIcon icon_;
    bool read_ = false;
};

} // namespace

namespace DeferredIcon {

QIcon fromFile(const QString &fileName)
{
    return QIcon(new FileOnFirstUseEngine(fileName));
}

} // namespace DeferredIcon
