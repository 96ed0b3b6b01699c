#pragma once

#include <QString>
#include <QStringList>

namespace gm {

// Single-file web page (.mht): a MIME multipart/related archive (RFC 2557) built from an
// HTML file and the local files it references. LibreOffice writes only an .htm plus
// picture files beside it; these functions fold them into one file.
//
// Local resources are the targets of img/script/input src, link href, background=
// attributes and url(...) in style attributes and <style> blocks that name an existing
// file inside the HTML file's folder (subfolders included). Remote, data:, mailto:,
// anchor-only and missing references are left alone, and so is anything that resolves
// outside that folder: the converter deletes the embedded files afterwards, and must never
// touch files it did not produce.
//
// The HTML part is quoted-printable and decodes to the HTML file's exact bytes; each
// resource is a base64 part. Every part carries an absolute Content-Location: the HTML part
// file:///<html file name>, each resource its reference resolved against that, which is
// the address a browser computes for the reference when it opens the archive.

// Writes the archive to mhtPath atomically (a temporary file in the same folder, then
// renamed). Throws EngineError(FileNotFound) when the HTML file is missing and
// EngineError(WriteFailed) when a file cannot be read or the archive cannot be written.
void buildWebArchive(const QString &htmlPath, const QString &mhtPath);

// Absolute paths of the local files buildWebArchive embeds, each once, in order of first
// reference. Throws EngineError(FileNotFound) or EngineError(WriteFailed) as above.
QStringList webArchiveResources(const QString &htmlPath);

} // namespace gm
