#include "intake/xlsx_stream.h"

#include "core/failure.h"

#include <QFile>

#include <expat.h>
#include <zip.h>

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace qalu::xlsx {

void fail(const QString &why)
{
    throw Failure(QStringLiteral("Cannot read the workbook: ") + why);
}

void XmlHandler::abort(const QString &why)
{
    if (m_error.isEmpty())
        m_error = why;
    XML_StopParser(m_parser, XML_FALSE);
}

namespace {

// Expat fed in chunks, with the handler's events.
class XmlStream
{
public:
    XmlStream(XmlHandler &handler, QString part)
        : m_handler(handler)
        , m_part(std::move(part))
    {
        m_parser = XML_ParserCreate(nullptr);
        if (!m_parser)
            fail(QStringLiteral("out of memory"));
        handler.m_parser = m_parser;
        XML_SetUserData(m_parser, &handler);
        XML_SetElementHandler(
            m_parser,
            [](void *h, const XML_Char *name, const XML_Char **attrs) {
                static_cast<XmlHandler *>(h)->start(name, attrs);
            },
            [](void *h, const XML_Char *name) { static_cast<XmlHandler *>(h)->end(name); });
        XML_SetCharacterDataHandler(m_parser,
            [](void *h, const XML_Char *s, int len) { static_cast<XmlHandler *>(h)->text(s, len); });
        // No part of a workbook has a document type. Refusing it refuses every entity
        // declaration, so neither entity expansion nor a local file can reach the grid.
        XML_SetStartDoctypeDeclHandler(
            m_parser, [](void *h, const XML_Char *, const XML_Char *, const XML_Char *, int) {
                static_cast<XmlHandler *>(h)->abort(QStringLiteral("a document type declaration"));
            });
        XML_SetEntityDeclHandler(m_parser,
            [](void *h, const XML_Char *, int, const XML_Char *, int, const XML_Char *, const XML_Char *,
                const XML_Char *, const XML_Char *) {
                static_cast<XmlHandler *>(h)->abort(QStringLiteral("an entity declaration"));
            });
        XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_NEVER);
    }
    ~XmlStream() { XML_ParserFree(m_parser); }
    XmlStream(const XmlStream &) = delete;
    XmlStream &operator=(const XmlStream &) = delete;

    // Expat's own input buffer, to read into without a copy.
    char *buffer(int len)
    {
        void *b = XML_GetBuffer(m_parser, len);
        if (!b)
            fail(QStringLiteral("out of memory"));
        return static_cast<char *>(b);
    }

    // Parses `len` bytes just read into buffer().
    void feed(int len, bool final)
    {
        if (XML_ParseBuffer(m_parser, len, final ? XML_TRUE : XML_FALSE) != XML_STATUS_OK)
            raise();
        m_fed += len;
        // Outside a handler the byte index is just past the last complete event: what lies beyond
        // is one token that expat buffers whole, so it must stay small.
        if (!final && m_fed - XML_GetCurrentByteIndex(m_parser) > kMaxPendingXml)
            fail(QStringLiteral("oversized XML markup in %1").arg(m_part));
    }

private:
    [[noreturn]] void raise()
    {
        if (!m_handler.m_error.isEmpty())
            fail(QStringLiteral("%1 in %2").arg(m_handler.m_error, m_part));
        fail(QStringLiteral("malformed XML in %1 (line %2: %3)")
                 .arg(m_part)
                 .arg(XML_GetCurrentLineNumber(m_parser))
                 .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(m_parser)))));
    }

    XmlHandler &m_handler;
    QString m_part;
    XML_Parser m_parser = nullptr;
    long long m_fed = 0;
};

// Inflates one archive entry on a helper thread into a small ring of buffers while the caller
// parses the chunks already inflated: the two halves of the work overlap and memory stays at the
// ring's size. The helper touches only the entry and the ring; the caller sees the chunks, then
// how the entry ended, in the order a single thread would have met them. Destroying the inflater
// early (the parser failed) stops and joins the helper.
class Inflater
{
public:
    enum class End : quint8 { More, Done, ReadError, TooLarge, Truncated };
    struct Chunk
    {
        End end;
        const char *data;
        int size;
    };

    Inflater(zip_file_t *file, zip_uint64_t declared, zip_uint64_t cap)
        : m_file(file)
        , m_declared(declared)
        , m_cap(cap)
    {
        // A part that fits the ring gains less from a thread than starting one costs; without
        // a thread (none to be had, too), next() inflates each chunk itself into one buffer.
        if (declared < kSlots * zip_uint64_t(kChunkSize))
            return;
        m_threaded = true;
        try {
            m_helper = std::thread([this] { run(); });
        } catch (const std::system_error &) {
            m_threaded = false;
        }
    }
    ~Inflater()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_freed.notify_one();
        if (m_helper.joinable())
            m_helper.join();
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    // The next chunk, valid until the next call; once the entry is over, how it ended.
    Chunk next()
    {
        std::unique_lock lock(m_mutex);
        if (m_holding) {
            m_holding = false;
            ++m_head;
            m_freed.notify_one();
        }
        if (!m_threaded && m_head == m_tail && m_end == End::More) {
            lock.unlock();
            inflateOne();
            lock.lock();
        }
        m_filled.wait(lock, [this] { return m_head != m_tail || m_end != End::More; });
        if (m_head == m_tail)
            return { m_end, nullptr, 0 };
        m_holding = true;
        const Buffer &b = m_ring[m_threaded ? m_head % kSlots : 0];
        return { End::More, b.data.get(), b.size };
    }

    const std::string &readError() const { return m_readError; }

private:
    static constexpr int kChunkSize = 256 * 1024;
    static constexpr unsigned kSlots = 4;

    struct Buffer
    {
        std::unique_ptr<char[]> data;
        int size = 0;
    };

    void run()
    {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_freed.wait(lock, [this] { return m_stop || m_tail - m_head < kSlots; });
                if (m_stop)
                    return;
            }
            if (!inflateOne())
                return;
        }
    }

    // Inflates into the free slot at the ring's tail; false once the entry has ended.
    bool inflateOne()
    {
        Buffer &b = m_ring[m_threaded ? m_tail % kSlots : 0];
        if (!b.data)
            b.data = std::make_unique_for_overwrite<char[]>(kChunkSize);
        const zip_int64_t n = zip_fread(m_file, b.data.get(), kChunkSize);
        End end = End::More;
        if (n < 0) {
            m_readError = zip_file_strerror(m_file);
            end = End::ReadError;
        } else if (n == 0) {
            end = m_total == m_declared ? End::Done : End::Truncated;
        } else {
            m_total += zip_uint64_t(n);
            if (m_total > m_declared || m_total > m_cap)
                end = End::TooLarge;
        }
        {
            const std::lock_guard lock(m_mutex);
            if (end == End::More) {
                b.size = int(n);
                ++m_tail;
            } else {
                m_end = end;
            }
        }
        m_filled.notify_one();
        return end == End::More;
    }

    zip_file_t *const m_file;
    const zip_uint64_t m_declared;
    const zip_uint64_t m_cap;
    zip_uint64_t m_total = 0; // the inflating side's own
    std::string m_readError; // written before m_end, read after it
    std::array<Buffer, kSlots> m_ring;

    std::mutex m_mutex;
    std::condition_variable m_filled;
    std::condition_variable m_freed;
    unsigned m_head = 0; // chunks taken by the parser
    unsigned m_tail = 0; // chunks inflated
    bool m_holding = false; // the parser holds the chunk at m_head
    End m_end = End::More;
    bool m_stop = false;
    bool m_threaded = false; // set before the helper starts
    std::thread m_helper;
};

} // namespace

Archive::Archive(const QString &path)
{
#ifdef Q_OS_WIN
    const QByteArray name = path.toUtf8();
#else
    const QByteArray name = QFile::encodeName(path);
#endif
    int error = 0;
    m_zip = zip_open(name.constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!m_zip) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        const QString detail = QString::fromUtf8(zip_error_strerror(&ze));
        zip_error_fini(&ze);
        if (error == ZIP_ER_NOZIP || error == ZIP_ER_INCONS)
            fail(QStringLiteral("not a workbook (%1)").arg(detail));
        fail(QStringLiteral("cannot open %1 (%2)").arg(path, detail));
    }
}

Archive::~Archive()
{
    zip_discard(m_zip);
}

bool Archive::has(const std::string &part) const
{
    return zip_name_locate(m_zip, part.c_str(), ZIP_FL_NOCASE) >= 0;
}

void Archive::parse(const std::string &part, std::uint64_t cap, XmlHandler &handler)
{
    const QString name = fromUtf8(part);
    const zip_int64_t index = zip_name_locate(m_zip, part.c_str(), ZIP_FL_NOCASE);
    if (index < 0)
        fail(QStringLiteral("not a workbook (%1 is missing)").arg(name));
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, zip_uint64_t(index), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
        fail(QStringLiteral("damaged archive entry %1").arg(name));
    if (st.size > cap)
        fail(QStringLiteral("%1 is too large (%2 bytes)").arg(name).arg(st.size));
    std::unique_ptr<zip_file_t, int (*)(zip_file_t *)> file(
        zip_fopen_index(m_zip, zip_uint64_t(index), 0), zip_fclose);
    if (!file)
        fail(QStringLiteral("cannot read %1 (%2)").arg(name, QString::fromUtf8(zip_strerror(m_zip))));
    handler.expect(st.size);
    XmlStream xml(handler, name);
    Inflater inflater(file.get(), st.size, cap);
    for (;;) {
        const Inflater::Chunk chunk = inflater.next();
        switch (chunk.end) {
        case Inflater::End::More:
            std::memcpy(xml.buffer(chunk.size), chunk.data, size_t(chunk.size));
            xml.feed(chunk.size, false);
            continue;
        case Inflater::End::Done:
            xml.feed(0, true);
            return;
        case Inflater::End::ReadError:
            fail(QStringLiteral("cannot read %1 (%2)").arg(name, QString::fromUtf8(inflater.readError())));
        case Inflater::End::TooLarge:
            // The declared size is checked above; an entry that inflates beyond it is forged.
            fail(QStringLiteral("%1 is larger than declared").arg(name));
        case Inflater::End::Truncated:
            fail(QStringLiteral("%1 is truncated").arg(name));
        }
    }
}

} // namespace qalu::xlsx
