#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <mutex>

namespace gm {

// A picture file to be set as sheet background: its bytes as stored in the file (a package
// keeps the picture in its own format) and, for the binary format, its 24-bit bitmap form.
class BackgroundPicture
{
public:
    // Reads and checks the picture: a BMP, JPEG or PNG file, told by its content, that
    // decodes. The last picture read is kept, so that a run reads and decodes it once.
    // Throws EngineError: FileNotFound, PermissionDenied, ReadFailed, PictureUnreadable.
    static std::shared_ptr<const BackgroundPicture> load(const QString &path);

    const QByteArray &bytes() const { return m_bytes; }
    // "png", "jpeg" or "bmp", and the matching MIME type.
    const QString &extension() const { return m_extension; }
    const QString &contentType() const { return m_contentType; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    // The picture as the binary format stores a sheet background: the image type (9, a
    // device-independent bitmap), the environment (1, Windows), the size of what follows, a
    // 12-byte core header and the pixels, 24 bits each, bottom row first, each row padded
    // to 4 bytes. Made once and kept. Throws PictureTooLarge beyond the format's limits.
    QByteArray bitmapRecordData() const;

private:
    BackgroundPicture() = default;
    QByteArray makeBitmapRecordData() const;

    QByteArray m_bytes;
    QString m_extension;
    QString m_contentType;
    int m_width = 0;
    int m_height = 0;
    mutable std::mutex m_bitmapMutex;
    mutable QByteArray m_bitmap;
};

} // namespace gm
