#include "core/tools/UrlCache.h"

#include "core/app/FileHelpers.h"
#include "core/download/Naming.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QUrl>
#include <QtEndian>

#include <brotli/decode.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr quint64 kEntryMagic = 0xfcfb6d1ba7725c30ULL;
constexpr quint64 kEndMagic = 0xf4fa6f45970d41d8ULL;
constexpr qint64 kHeaderSize = 24;
constexpr qint64 kEndRecordSize = 24;
constexpr qint64 kKeyHashSize = 32;
constexpr quint32 kFlagKeySha256 = 2;
// Keys are addresses; Chromium refuses longer ones long before this.
constexpr quint32 kMaxKeyLength = 1024 * 1024;
// The response head of an entry is a few kilobytes; a larger one is not read as text.
constexpr qint64 kMaxHeadSize = 256 * 1024;

struct EndRecord {
    quint32 flags = 0;
    quint32 streamSize = 0;
};

std::optional<EndRecord> ReadEndRecord(QFile& file, qint64 offset) {
    if (offset < 0 || !file.seek(offset))
        return std::nullopt;
    const QByteArray bytes = file.read(kEndRecordSize);
    if (bytes.size() != kEndRecordSize)
        return std::nullopt;
    if (qFromLittleEndian<quint64>(bytes.constData()) != kEndMagic)
        return std::nullopt;
    EndRecord record;
    record.flags = qFromLittleEndian<quint32>(bytes.constData() + 8);
    record.streamSize = qFromLittleEndian<quint32>(bytes.constData() + 16);
    return record;
}

// The status line and headers inside the pickled response info: NUL-separated texts that
// begin with "HTTP/" and end with an empty one.
QStringList ResponseHeadFrom(const QByteArray& stream0) {
    const qsizetype start = stream0.indexOf("HTTP/");
    if (start < 0)
        return {};
    const qsizetype end = stream0.indexOf(QByteArray("\0\0", 2), start);
    const QByteArray head = stream0.mid(start, end < 0 ? -1 : end - start);
    QStringList lines;
    for (const QByteArray& line : head.split('\0')) {
        if (!line.isEmpty())
            lines << QString::fromLatin1(line);
    }
    return lines;
}

struct stat LinkStatus(const QString& path, bool& ok) {
    struct stat status {};
    ok = ::lstat(QFile::encodeName(path).constData(), &status) == 0;
    return status;
}

QString WithoutTrailingSlash(const QString& folder) {
    QString result = folder;
    while (result.size() > 1 && result.endsWith('/'))
        result.chop(1);
    return result;
}

QString Resolved(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

bool IsInsideResolved(const QString& resolvedPath, const QString& resolvedFolder) {
    if (resolvedPath.isEmpty() || resolvedFolder.isEmpty())
        return false;
    if (resolvedPath == resolvedFolder)
        return true;
    return resolvedPath.startsWith(WithTrailingSlash(resolvedFolder));
}

void ListEntries(const QString& folder, QStringList& list, bool recursive,
                 CacheFolder::Wanted wanted) {
    // A link to a folder is not a folder to walk.
    if (const auto opened = CacheFolder::Open(folder, false))
        opened->list(list, recursive, wanted);
}

QString TypeForContentType(const QString& contentType) {
    static const QHash<QString, QString> types = {
        {QStringLiteral("text/html"), QStringLiteral("html")},
        {QStringLiteral("application/xhtml+xml"), QStringLiteral("html")},
        {QStringLiteral("application/pdf"), QStringLiteral("pdf")},
        {QStringLiteral("text/plain"), QStringLiteral("txt")},
        {QStringLiteral("text/css"), QStringLiteral("css")},
        {QStringLiteral("text/javascript"), QStringLiteral("js")},
        {QStringLiteral("application/javascript"), QStringLiteral("js")},
        {QStringLiteral("application/json"), QStringLiteral("json")},
        {QStringLiteral("text/xml"), QStringLiteral("xml")},
        {QStringLiteral("application/xml"), QStringLiteral("xml")},
        {QStringLiteral("image/png"), QStringLiteral("png")},
        {QStringLiteral("image/jpeg"), QStringLiteral("jpg")},
        {QStringLiteral("image/gif"), QStringLiteral("gif")},
        {QStringLiteral("image/webp"), QStringLiteral("webp")},
        {QStringLiteral("image/svg+xml"), QStringLiteral("svg")},
        {QStringLiteral("application/zip"), QStringLiteral("zip")},
        {QStringLiteral("application/msword"), QStringLiteral("doc")},
    };
    const QString bare = contentType.section(';', 0, 0).trimmed().toLower();
    return types.value(bare);
}

// Undoes a body's content encoding piece by piece, so that a large body never sits whole in
// memory.
class BodyDecoder {
public:
    virtual ~BodyDecoder() = default;
    // Appends what `input` decodes to; false on data that does not decode.
    virtual bool feed(const QByteArray& input, QByteArray& output) = 0;
    // True when the encoded stream ended properly.
    virtual bool finished() const = 0;
};

class ZlibDecoder : public BodyDecoder {
public:
    // 16 + MAX_WBITS reads the gzip wrapper, MAX_WBITS the zlib one, -MAX_WBITS bare deflate.
    explicit ZlibDecoder(int windowBits) { ok_ = inflateInit2(&stream_, windowBits) == Z_OK; }
    ~ZlibDecoder() override {
        if (ok_)
            inflateEnd(&stream_);
    }
    ZlibDecoder(const ZlibDecoder&) = delete;
    ZlibDecoder& operator=(const ZlibDecoder&) = delete;

    bool feed(const QByteArray& input, QByteArray& output) override {
        if (!ok_ || ended_)
            return ok_; // what follows the end of the stream is not part of the body
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
        stream_.avail_in = uInt(input.size());
        char buffer[64 * 1024];
        do {
            stream_.next_out = reinterpret_cast<Bytef*>(buffer);
            stream_.avail_out = sizeof buffer;
            const int result = inflate(&stream_, Z_NO_FLUSH);
            if (result == Z_BUF_ERROR)
                break; // nothing more to do until more input comes
            if (result != Z_OK && result != Z_STREAM_END)
                return false;
            output.append(buffer, qsizetype(sizeof buffer - stream_.avail_out));
            ended_ = result == Z_STREAM_END;
        } while (!ended_ && (stream_.avail_in > 0 || stream_.avail_out == 0));
        return true;
    }
    bool finished() const override { return ok_ && ended_; }

private:
    z_stream stream_{};
    bool ok_ = false;
    bool ended_ = false;
};

class BrotliDecoder : public BodyDecoder {
public:
    BrotliDecoder() : state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliDecoder() override { BrotliDecoderDestroyInstance(state_); }
    BrotliDecoder(const BrotliDecoder&) = delete;
    BrotliDecoder& operator=(const BrotliDecoder&) = delete;

    bool feed(const QByteArray& input, QByteArray& output) override {
        if (!state_)
            return false;
        size_t availableIn = size_t(input.size());
        auto* nextIn = reinterpret_cast<const uint8_t*>(input.constData());
        for (;;) {
            uint8_t buffer[64 * 1024];
            size_t availableOut = sizeof buffer;
            uint8_t* nextOut = buffer;
            result_ = BrotliDecoderDecompressStream(state_, &availableIn, &nextIn, &availableOut,
                                                    &nextOut, nullptr);
            output.append(reinterpret_cast<const char*>(buffer),
                          qsizetype(sizeof buffer - availableOut));
            if (result_ == BROTLI_DECODER_RESULT_ERROR)
                return false;
            if (result_ != BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT)
                return true;
        }
    }
    bool finished() const override { return result_ == BROTLI_DECODER_RESULT_SUCCESS; }

private:
    BrotliDecoderState* state_;
    BrotliDecoderResult result_ = BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT;
};

std::unique_ptr<BodyDecoder> DecoderFor(const QString& contentEncoding) {
    const QString encoding = contentEncoding.trimmed().toLower();
    if (encoding == QLatin1String("gzip") || encoding == QLatin1String("x-gzip"))
        return std::make_unique<ZlibDecoder>(16 + MAX_WBITS);
    if (encoding == QLatin1String("deflate"))
        return std::make_unique<ZlibDecoder>(MAX_WBITS);
    if (encoding == QLatin1String("br"))
        return std::make_unique<BrotliDecoder>();
    return nullptr;
}

constexpr qint64 kBodyChunk = 1 << 20;

// Writes the body, through `decoder` when there is one; false (and nothing written) when the
// file cannot be read or written or the body does not decode.
bool WriteBody(const CacheEntry& entry, const QString& targetPath, BodyDecoder* decoder) {
    QFile source(entry.filePath);
    if (!source.open(QIODevice::ReadOnly) || !source.seek(entry.bodyOffset))
        return false;
    QSaveFile target(targetPath);
    if (!target.open(QIODevice::WriteOnly))
        return false;
    qint64 left = entry.bodySize;
    while (left > 0) {
        const QByteArray chunk = source.read(std::min(left, kBodyChunk));
        if (chunk.isEmpty()) {
            target.cancelWriting();
            return false;
        }
        left -= chunk.size();
        QByteArray decoded;
        const QByteArray* out = &chunk;
        if (decoder) {
            if (!decoder->feed(chunk, decoded)) {
                target.cancelWriting();
                return false;
            }
            out = &decoded;
        }
        if (target.write(*out) != out->size()) {
            target.cancelWriting();
            return false;
        }
    }
    if (decoder && !decoder->finished()) {
        target.cancelWriting();
        return false;
    }
    return target.commit();
}

} // namespace

QString CacheEntry::header(const QString& name) const {
    const QString prefix = name + ':';
    for (qsizetype i = 1; i < responseHead.size(); ++i) {
        const QString& line = responseHead.at(i);
        if (line.startsWith(prefix, Qt::CaseInsensitive))
            return line.mid(prefix.size()).trimmed();
    }
    return {};
}

bool IsCacheEntryFileName(const QString& fileName) {
    if (fileName.size() != 18 || !fileName.endsWith(QLatin1String("_0")))
        return false;
    for (qsizetype i = 0; i < 16; ++i) {
        const char16_t c = fileName.at(i).unicode();
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
        if (!hex)
            return false;
    }
    return true;
}

QString AddressFromCacheKey(const QString& key) {
    QString rest = key;
    // "1/0/": the credentials and upload markers of the key, each digits and a "/".
    for (;;) {
        qsizetype i = 0;
        while (i < rest.size() && rest.at(i).isDigit())
            ++i;
        if (i == 0 || i >= rest.size() || rest.at(i) != QChar('/'))
            break;
        rest = rest.mid(i + 1);
    }
    if (rest.startsWith(QLatin1String("_dk_"))) {
        // "_dk_<top-frame site> <frame site> <address>": an address holds no blank.
        const qsizetype blank = rest.lastIndexOf(' ');
        rest = blank < 0 ? QString() : rest.mid(blank + 1);
    }
    return rest;
}

std::optional<CacheEntry> ReadCacheEntry(const QString& filePath) {
    bool statOk = false;
    const struct stat status = LinkStatus(filePath, statOk);
    if (!statOk || !S_ISREG(status.st_mode))
        return std::nullopt;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    if (size < kHeaderSize + 2 * kEndRecordSize)
        return std::nullopt;
    const QByteArray header = file.read(kHeaderSize);
    if (header.size() != kHeaderSize ||
        qFromLittleEndian<quint64>(header.constData()) != kEntryMagic)
        return std::nullopt;
    const quint32 keyLength = qFromLittleEndian<quint32>(header.constData() + 12);
    if (keyLength == 0 || keyLength > kMaxKeyLength ||
        kHeaderSize + qint64(keyLength) + 2 * kEndRecordSize > size)
        return std::nullopt;
    const QByteArray key = file.read(keyLength);
    if (key.size() != qsizetype(keyLength))
        return std::nullopt;

    // The file is read from its end, as the cache itself reads it: the last record gives the
    // size of the response head, the record before the head the size of the body.
    const std::optional<EndRecord> last = ReadEndRecord(file, size - kEndRecordSize);
    if (!last)
        return std::nullopt;
    const qint64 hashSize = (last->flags & kFlagKeySha256) ? kKeyHashSize : 0;
    const qint64 headOffset = size - kEndRecordSize - hashSize - qint64(last->streamSize);
    const qint64 bodyOffset = kHeaderSize + keyLength;
    const std::optional<EndRecord> bodyEnd = ReadEndRecord(file, headOffset - kEndRecordSize);
    if (!bodyEnd || bodyOffset + qint64(bodyEnd->streamSize) + kEndRecordSize != headOffset)
        return std::nullopt;

    CacheEntry entry;
    entry.filePath = filePath;
    entry.key = QString::fromUtf8(key);
    entry.address = AddressFromCacheKey(entry.key);
    entry.bodyOffset = bodyOffset;
    entry.bodySize = bodyEnd->streamSize;
    if (last->streamSize <= kMaxHeadSize && file.seek(headOffset))
        entry.responseHead = ResponseHeadFrom(file.read(last->streamSize));
    return entry;
}

std::optional<QByteArray> ReadCacheBody(const CacheEntry& entry) {
    QFile file(entry.filePath);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(entry.bodyOffset))
        return std::nullopt;
    QByteArray body = file.read(entry.bodySize);
    if (body.size() != entry.bodySize)
        return std::nullopt;
    return body;
}

bool SaveCacheBody(const CacheEntry& entry, const QString& targetPath) {
    // The cache keeps the body as the server sent it, often compressed for the transfer; the
    // user wants the file itself. A body that does not decode is saved as it is stored.
    if (const std::unique_ptr<BodyDecoder> decoder =
            DecoderFor(entry.header(QStringLiteral("Content-Encoding")))) {
        if (WriteBody(entry, targetPath, decoder.get()))
            return true;
    }
    return WriteBody(entry, targetPath, nullptr);
}

CacheListing ListCacheEntries(const QString& cacheDataFolder) {
    CacheListing listing;
    bool statOk = false;
    const struct stat status = LinkStatus(WithoutTrailingSlash(cacheDataFolder), statOk);
    if (!statOk)
        return listing; // nothing cached yet
    if (!S_ISDIR(status.st_mode)) {
        listing.ok = false;
        return listing;
    }
    QDir dir(cacheDataFolder);
    if (!dir.isReadable()) {
        listing.ok = false;
        return listing;
    }
    struct Found {
        CacheEntry entry;
        QDateTime modified;
    };
    std::vector<Found> found;
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& info : files) {
        if (!IsCacheEntryFileName(info.fileName()))
            continue;
        if (std::optional<CacheEntry> entry = ReadCacheEntry(info.filePath()))
            found.push_back({std::move(*entry), info.lastModified()});
    }
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.modified != b.modified ? a.modified < b.modified
                                        : a.entry.filePath < b.entry.filePath;
    });
    for (Found& f : found)
        listing.entries << std::move(f.entry);
    return listing;
}

bool DeleteCacheEntryFiles(const QString& entryFilePath) {
    const QFileInfo info(entryFilePath);
    if (!IsCacheEntryFileName(info.fileName()))
        return false;
    const auto folder = CacheFolder::Open(info.path(), true);
    if (!folder)
        return false;
    const QString stem = info.path() + '/' + info.fileName().left(16);
    for (const char* suffix : {"_1", "_s"})
        folder->removeFile(stem + QLatin1String(suffix));
    folder->removeFile(entryFilePath);
    bool exists = false;
    LinkStatus(entryFilePath, exists);
    return !exists;
}

bool IsCacheBookkeepingFile(const QString& path) {
    const QFileInfo info(path);
    if (info.fileName() == QLatin1String("index"))
        return true;
    return path.contains(QLatin1String("/index-dir/"));
}

QString CacheBodyFileName(const CacheEntry& entry) {
    const QUrl url = QUrl::fromEncoded(entry.address.toUtf8());
    QString name = CleanFileName(url.fileName(QUrl::FullyDecoded));
    // A host name's dots are no type ("www.science.org" is a page).
    bool typeless = false;
    if (name.isEmpty()) {
        name = CleanFileName(url.host());
        typeless = true;
    }
    if (name.isEmpty())
        name = QStringLiteral("cache");
    QString base;
    if (typeless || SplitFileName(name, base).isEmpty()) {
        const QString type = TypeForContentType(entry.header(QStringLiteral("Content-Type")));
        if (!type.isEmpty())
            return FitFileNameComponent(name, '.' + type) + '.' + type;
    }
    return FitFileNameComponent(name, {});
}

QString UrlFileType(const QString& text) {
    QString rest = text;
    const QString scheme = QStringLiteral("://");
    qsizetype at = rest.indexOf(scheme);
    if (at >= 0) {
        rest = rest.mid(at + scheme.size());
        at = rest.indexOf(scheme);
        if (at >= 0)
            rest = rest.left(at);
    }
    rest.replace('/', '\\');
    rest = rest.mid(rest.lastIndexOf('\\') + 1);
    auto cutBefore = [&rest](QChar c) {
        const qsizetype i = rest.indexOf(c);
        if (i >= 0)
            rest.truncate(i);
    };
    for (const QChar c :
         {QChar('#'), QChar(8), QChar(9), QChar(10), QChar(13), QChar(':'), QChar('*'), QChar('<'),
          QChar('>'), QChar('|'), QChar('"'), QChar('\''), QChar('='), QChar('?')})
        cutBefore(c);
    const qsizetype dot = rest.lastIndexOf('.');
    if (dot < 0)
        return {};
    const QString type = TrimSpaces(rest.mid(dot + 1));
    return type.size() >= 7 ? QString() : type;
}

void ListSubfolders(const QString& folder, QStringList& list, bool recursive) {
    ListEntries(folder, list, recursive, CacheFolder::Wanted::Folders);
}

void ListFiles(const QString& folder, QStringList& list, bool recursive) {
    ListEntries(folder, list, recursive, CacheFolder::Wanted::Files);
}

bool LiesInside(const QString& path, const QStringList& folders) {
    const QString resolved = Resolved(path);
    for (const QString& folder : folders) {
        if (IsInsideResolved(resolved, Resolved(folder)))
            return true;
    }
    return false;
}

namespace {

CacheFolders OpenFolders(const QStringList& folders) {
    CacheFolders opened;
    for (const QString& folder : folders) {
        if (auto handle = CacheFolder::Open(folder, true))
            opened << std::move(handle);
    }
    return opened;
}

const CacheFolder* HoldingFolder(const QString& path, const CacheFolders& folders) {
    for (const auto& folder : folders) {
        if (folder && folder->holds(path))
            return folder.get();
    }
    return nullptr;
}

} // namespace

bool ForceDeleteFile(const QString& path, const CacheFolders& allowedFolders) {
    // On Linux a file's own mode does not protect it from deletion (its folder's does), so
    // nothing is changed on the file: a deletion that fails leaves it exactly as it was.
    const CacheFolder* folder = HoldingFolder(path, allowedFolders);
    return folder && folder->removeFile(path);
}

bool ForceDeleteFile(const QString& path, const QStringList& allowedFolders) {
    return ForceDeleteFile(path, OpenFolders(allowedFolders));
}

bool RemoveEmptyFolder(const QString& folder, const CacheFolders& allowedFolders) {
    const CacheFolder* holder = HoldingFolder(folder, allowedFolders);
    return holder && holder->removeEmptyFolder(folder);
}

bool RemoveEmptyFolder(const QString& folder, const QStringList& allowedFolders) {
    return RemoveEmptyFolder(folder, OpenFolders(allowedFolders));
}

UserCacheLayout UserCacheLayoutFor(const QString& osText, const QString& home,
                                   const QString& ownCacheFolder) {
    UserCacheLayout layout;
    const QString homeFolder = WithTrailingSlash(WithoutTrailingSlash(home));
    if (osText.contains(QLatin1String("linux"), Qt::CaseInsensitive)) {
        layout.profileRoots << QStringLiteral("/home/");
        layout.profileFolders << QStringLiteral("/root/");
    } else if (!home.isEmpty()) {
        // Elsewhere the homes are taken to stand side by side, as the running user's does.
        const QString parent = QFileInfo(WithoutTrailingSlash(home)).path();
        layout.profileRoots << WithTrailingSlash(parent);
    }
    if (!home.isEmpty())
        layout.profileFolders << homeFolder;

    const QString own = WithoutTrailingSlash(ownCacheFolder);
    layout.ownCacheFolder = own;
    if (!home.isEmpty() && own.startsWith(homeFolder))
        layout.cacheSubPaths << own.mid(homeFolder.size());
    const QString usual = QStringLiteral(".cache/Quillfetch/QtWebEngine/Quillfetch");
    if (!layout.cacheSubPaths.contains(usual))
        layout.cacheSubPaths << usual;
    return layout;
}

QList<UserCacheFolder> FindUserCacheFolders(const UserCacheLayout& layout,
                                            QStringList* profileFolders) {
    QStringList homes;
    for (const QString& root : layout.profileRoots)
        ListSubfolders(root, homes, false);
    // The single homes are the system's own ("/root/") and the running user's, which may
    // well be reached through a link; the homes found under a root are never links.
    for (const QString& single : layout.profileFolders) {
        if (FolderExists(single))
            homes << WithoutTrailingSlash(single);
    }
    // The same home may be reached twice (the running user's home under /home/).
    QSet<QString> seen;
    QStringList unique;
    for (const QString& h : homes) {
        const QString resolved = Resolved(h);
        if (resolved.isEmpty() || seen.contains(resolved))
            continue;
        seen.insert(resolved);
        unique << h;
    }
    if (profileFolders)
        *profileFolders = unique;

    const QString own = Resolved(layout.ownCacheFolder);
    QList<UserCacheFolder> folders;
    QSet<QString> listed;
    for (const QString& h : unique) {
        const QString resolvedHome = Resolved(h);
        for (const QString& sub : layout.cacheSubPaths) {
            const QString folder = WithoutTrailingSlash(WithTrailingSlash(h) + sub);
            // Opened first and judged by where the handle really is: the folder's owner may
            // swap a link in at any moment, the open handle stays where it was judged.
            std::shared_ptr<const CacheFolder> opened = CacheFolder::Open(folder, false);
            // Only the running program's own cache may itself be a link (a cache moved to
            // another disk).
            const bool throughLink = !opened;
            if (throughLink)
                opened = CacheFolder::Open(folder, true);
            if (!opened)
                continue;
            const QString resolved = opened->realPath();
            const bool ownFolder = !own.isEmpty() && resolved == own;
            // A cache folder that leads out of its home (a link to "/", to another user's
            // files) is no cache folder of that user.
            if (!ownFolder && !IsInsideResolved(resolved, resolvedHome))
                continue;
            if (throughLink && !ownFolder)
                continue;
            if (listed.contains(resolved))
                continue;
            listed.insert(resolved);
            folders << UserCacheFolder{QFileInfo(h).fileName(), folder, std::move(opened)};
        }
    }
    return folders;
}

CacheRowAction CacheRowActionFor(const QString& text, const QString& type,
                                 const QString& filePath) {
    if (text.startsWith(QStringLiteral("用户:"))) {
        if (type.compare(QLatin1String("txt"), Qt::CaseInsensitive) != 0 && !filePath.isEmpty())
            return CacheRowAction::DeleteFile;
        return CacheRowAction::Keep;
    }
    if (!text.isEmpty() && !text.contains(QLatin1String("Cookie"), Qt::CaseInsensitive))
        return CacheRowAction::DeleteEntry;
    return CacheRowAction::Keep;
}
