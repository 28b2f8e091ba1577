#include "intake/xlsx_stream.h"

#include "intake/failure.h"

#include <QFile>

#include <expat.h>
#include <zip.h>

#include <memory>

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
    XmlStream xml(handler, name);
    constexpr int chunk = 256 * 1024;
    zip_uint64_t total = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), xml.buffer(chunk), chunk);
        if (n < 0)
            fail(QStringLiteral("cannot read %1 (%2)")
                     .arg(name, QString::fromUtf8(zip_file_strerror(file.get()))));
        if (n == 0)
            break;
        total += zip_uint64_t(n);
        // The declared size is checked above; an entry that inflates beyond it is forged.
        if (total > st.size || total > cap)
            fail(QStringLiteral("%1 is larger than declared").arg(name));
        xml.feed(int(n), false);
    }
    if (total != st.size)
        fail(QStringLiteral("%1 is truncated").arg(name));
    xml.feed(0, true);
}

} // namespace qalu::xlsx
