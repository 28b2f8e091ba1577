#pragma once

#include <QString>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

struct zip;
struct XML_ParserStruct;

// Reading the parts of an .xlsx package: the zip archive and its XML, streamed under limits.
namespace qalu::xlsx {

// The workbook comes from the network, so every part is read under limits: a zip bomb, an
// absurd sheet or a giant string ends in a Failure with bounded memory and time.
constexpr std::uint64_t kMaxSmallPart = 16u << 20; // relationships, workbook, styles
constexpr std::uint64_t kMaxSharedStrings = 128u << 20;
constexpr std::uint64_t kMaxSheet = 512u << 20;
constexpr long long kMaxPendingXml = 16 << 20; // one XML token (a tag, a comment)
constexpr size_t kMaxStringBytes = 1 << 20; // one cell text
constexpr size_t kMaxCells = 8'000'000; // value cells of the sheet
constexpr size_t kMaxTextBytes = 96u << 20; // all texts of the sheet together
constexpr int kMaxRow = 1048576;
constexpr int kMaxCol = 16384;

// Raises the reader's Failure: "Cannot read the workbook: " followed by `why`.
[[noreturn]] void fail(const QString &why);

inline QString fromUtf8(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The name without its namespace prefix: the parts use different prefixes for the same names.
inline const char *localName(const char *name)
{
    if (name[0] && !name[1]) // the sheet's hot names: c, v, t
        return name;
    const char *colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

inline bool is(const char *name, const char *local)
{
    return std::strcmp(localName(name), local) == 0;
}

inline const char *attribute(const char **attrs, const char *local)
{
    for (int i = 0; attrs[i]; i += 2)
        if (is(attrs[i], local))
            return attrs[i + 1];
    return nullptr;
}

inline bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// The events of one XML part. Handlers never throw through the C parser: they call abort(),
// which records why and stops it; the stream then raises the Failure.
class XmlHandler
{
public:
    virtual ~XmlHandler() = default;
    virtual void start(const char *name, const char **attrs) = 0;
    virtual void end(const char *name) = 0;
    virtual void text(const char *, int) { }
    // The part's declared size, before its first event: room can be reserved in one go.
    virtual void expect(std::uint64_t) { }

    void abort(const QString &why);

    XML_ParserStruct *m_parser = nullptr;
    QString m_error;
};

// An opened .xlsx file. Parts are named as in the archive, compared without case.
class Archive
{
public:
    explicit Archive(const QString &path);
    ~Archive();
    Archive(const Archive &) = delete;
    Archive &operator=(const Archive &) = delete;

    bool has(const std::string &part) const;

    // Streams a part through the handler, chunk by chunk, never holding it whole; a part whose
    // size is over `cap` fails before any of it is read. A large part is inflated on a helper
    // thread, but the handler's events all come on the caller's thread, before parse() returns.
    void parse(const std::string &part, std::uint64_t cap, XmlHandler &handler);

private:
    zip *m_zip = nullptr;
};

} // namespace qalu::xlsx
