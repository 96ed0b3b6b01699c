#include "automation/BackgroundPicture.h"

#include "automation/EngineError.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include <mutex>

namespace gm {

namespace {

struct Format
{
    const char *magic;
    int magicSize;
    const char *reader; // QImageReader's format name
    const char *extension;
    const char *contentType;
};

const Format kFormats[] = {
    {"\x89PNG\r\n\x1a\n", 8, "png", "png", "image/png"},
    {"\xFF\xD8\xFF", 3, "jpeg", "jpeg", "image/jpeg"},
    {"BM", 2, "bmp", "bmp", "image/bmp"},
};

// The largest bitmap the binary format's record can carry without risk: the pixels go into
// one record and its continuations, read whole by every reader.
constexpr qint64 kMaxBitmapBytes = 100 * 1024 * 1024;

struct Cached
{
    QString path;
    qint64 size = -1;
    QDateTime modified;
    std::shared_ptr<const BackgroundPicture> picture;
};

std::mutex cacheMutex;
Cached cache;

void putU16(QByteArray &data, quint16 value)
{
    data.append(char(value & 0xFF));
    data.append(char(value >> 8));
}

void putU32(QByteArray &data, quint32 value)
{
    putU16(data, quint16(value & 0xFFFF));
    putU16(data, quint16(value >> 16));
}

} // namespace

std::shared_ptr<const BackgroundPicture> BackgroundPicture::load(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw EngineError(ErrorCode::FileNotFound, path);
    if (info.isDir())
        throw EngineError(ErrorCode::PictureUnreadable, QStringLiteral("%1 is a folder").arg(path));
    {
        std::lock_guard lock(cacheMutex);
        if (cache.picture && cache.path == info.absoluteFilePath() && cache.size == info.size()
            && cache.modified == info.lastModified())
            return cache.picture;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EngineError(file.error() == QFileDevice::PermissionsError ? ErrorCode::PermissionDenied : ErrorCode::ReadFailed,
            QStringLiteral("%1: %2").arg(path, file.errorString()));
    auto picture = std::shared_ptr<BackgroundPicture>(new BackgroundPicture);
    picture->m_bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EngineError(ErrorCode::ReadFailed, QStringLiteral("%1: %2").arg(path, file.errorString()));

    const Format *format = nullptr;
    for (const Format &candidate : kFormats) {
        if (picture->m_bytes.startsWith(QByteArray::fromRawData(candidate.magic, candidate.magicSize)))
            format = &candidate;
    }
    if (!format)
        throw EngineError(ErrorCode::PictureUnreadable, QStringLiteral("%1 is no BMP, JPEG or PNG picture").arg(path));
    QBuffer buffer(&picture->m_bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format->reader);
    const QImage image = reader.read();
    if (image.isNull())
        throw EngineError(ErrorCode::PictureUnreadable, QStringLiteral("%1: %2").arg(path, reader.errorString()));
    picture->m_extension = QString::fromLatin1(format->extension);
    picture->m_contentType = QString::fromLatin1(format->contentType);
    picture->m_width = image.width();
    picture->m_height = image.height();

    std::lock_guard lock(cacheMutex);
    cache = {info.absoluteFilePath(), info.size(), info.lastModified(), picture};
    return picture;
}

QByteArray BackgroundPicture::bitmapRecordData() const
{
    std::lock_guard lock(m_bitmapMutex);
    if (m_bitmap.isEmpty())
        m_bitmap = makeBitmapRecordData();
    return m_bitmap;
}

QByteArray BackgroundPicture::makeBitmapRecordData() const
{
    const qint64 rowSize = (qint64(m_width) * 3 + 3) & ~qint64(3);
    const qint64 pixelBytes = rowSize * m_height;
    if (m_width > 0xFFFF || m_height > 0xFFFF || pixelBytes > kMaxBitmapBytes)
        throw EngineError(ErrorCode::PictureTooLarge, QStringLiteral("%1 x %2 pixels").arg(m_width).arg(m_height));
    QByteArray copy = m_bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QImage image = reader.read();
    if (image.isNull())
        throw EngineError(ErrorCode::PictureUnreadable, reader.errorString());
    // Transparent parts show as white, as they would over an empty sheet.
    if (image.hasAlphaChannel()) {
        QImage opaque(image.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        QImage over = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < over.height(); ++y) {
            const auto *from = reinterpret_cast<const QRgb *>(over.constScanLine(y));
            auto *to = reinterpret_cast<QRgb *>(opaque.scanLine(y));
            for (int x = 0; x < over.width(); ++x) {
                const int alpha = qAlpha(from[x]);
                to[x] = qRgb(qRed(from[x]) + 255 - alpha, qGreen(from[x]) + 255 - alpha, qBlue(from[x]) + 255 - alpha);
            }
        }
        image = opaque;
    }
    image = image.convertToFormat(QImage::Format_RGB888);

    QByteArray data;
    data.reserve(8 + 12 + pixelBytes);
    putU16(data, 0x0009);
    putU16(data, 0x0001);
    putU32(data, quint32(12 + pixelBytes));
    putU32(data, 12);
    putU16(data, quint16(m_width));
    putU16(data, quint16(m_height));
    putU16(data, 1);
    putU16(data, 24);
    const QByteArray padding(rowSize - qint64(m_width) * 3, '\0');
    for (int y = m_height - 1; y >= 0; --y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < m_width; ++x) {
            data.append(char(line[3 * x + 2]));
            data.append(char(line[3 * x + 1]));
            data.append(char(line[3 * x]));
        }
        data.append(padding);
    }
    return data;
}

} // namespace gm
