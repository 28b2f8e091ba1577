// An ODBC driver that stores nothing and logs what it is handed: for every execution, each bound
// parameter's C and SQL type, column size, buffer length, the length indicator's value and the
// bound bytes. The driver manager loads it like any other driver (DSN-less,
// "Driver=/path/libqalu-odbc-log.so;Log=/path/file"), so the log shows what Qt's QODBC driver
// really binds. It answers like a Unicode SQL Server driver, so QODBC binds texts as it would
// for Microsoft's.

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include <strings.h>

namespace {

struct Env
{
    std::string error;
};

struct Dbc
{
    std::string error;
    std::string log; // the file every execution is appended to
};

struct Param
{
    bool bound = false;
    SQLSMALLINT cType = 0, sqlType = 0;
    SQLULEN columnSize = 0;
    SQLLEN bufferLength = 0;
    SQLPOINTER value = nullptr;
    SQLLEN *indicator = nullptr;
};

struct Stmt
{
    std::string error;
    Dbc *dbc = nullptr;
    std::string text;
    std::array<Param, 32> params {};
    std::array<int, 4> descriptors {}; // stand-ins the driver manager may ask for
};

std::string narrow(const SQLWCHAR *text, SQLINTEGER length)
{
    std::string out;
    if (!text)
        return out;
    for (SQLINTEGER i = 0; length == SQL_NTS ? text[i] != 0 : i < length; ++i)
        out += text[i] < 0x80 ? char(text[i]) : '?';
    return out;
}

std::string narrow(const SQLCHAR *text, SQLINTEGER length)
{
    if (!text)
        return {};
    const char *chars = reinterpret_cast<const char *>(text);
    return length == SQL_NTS ? std::string(chars) : std::string(chars, size_t(length));
}

// A text answer: copied with its terminator as far as the buffer allows; the length in bytes.
template <typename Char>
SQLRETURN putText(const std::string &text, SQLPOINTER buffer, SQLLEN bufferBytes, SQLLEN *length)
{
    const size_t chars = text.size();
    if (length)
        *length = SQLLEN(chars * sizeof(Char));
    if (!buffer || bufferBytes < SQLLEN(sizeof(Char)))
        return SQL_SUCCESS_WITH_INFO;
    Char *out = static_cast<Char *>(buffer);
    const size_t room = size_t(bufferBytes) / sizeof(Char) - 1;
    const size_t n = chars < room ? chars : room;
    for (size_t i = 0; i < n; ++i)
        out[i] = Char(static_cast<unsigned char>(text[i]));
    out[n] = 0;
    return n == chars ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
}

template <typename Char>
SQLRETURN putText(const std::string &text, SQLPOINTER buffer, SQLSMALLINT bufferBytes, SQLSMALLINT *length)
{
    SQLLEN full = 0;
    const SQLRETURN r = putText<Char>(text, buffer, SQLLEN(bufferBytes), &full);
    if (length)
        *length = SQLSMALLINT(full);
    return r;
}

// The value of "key=value" in a connection string, keys compared without case.
std::string attribute(const std::string &connection, const char *key)
{
    size_t at = 0;
    while (at < connection.size()) {
        size_t end = connection.find(';', at);
        if (end == std::string::npos)
            end = connection.size();
        const std::string item = connection.substr(at, end - at);
        const size_t eq = item.find('=');
        if (eq != std::string::npos && eq == std::strlen(key) && strncasecmp(item.c_str(), key, eq) == 0)
            return item.substr(eq + 1);
        at = end + 1;
    }
    return {};
}

// Fixed-size C types: how many bytes the value holds.
SQLLEN fixedSize(SQLSMALLINT cType)
{
    switch (cType) {
    case SQL_C_DOUBLE:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
        return 8;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT:
        return 4;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
        return 2;
    case SQL_C_BIT:
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
        return 1;
    default:
        return -1;
    }
}

void logExecution(const Stmt &stmt)
{
    FILE *f = stmt.dbc->log.empty() ? nullptr : std::fopen(stmt.dbc->log.c_str(), "a");
    if (!f)
        return;
    std::fprintf(f, "execute %s\n", stmt.text.c_str());
    for (size_t i = 0; i < stmt.params.size(); ++i) {
        const Param &p = stmt.params[i];
        if (!p.bound)
            continue;
        std::fprintf(f, "param %zu c_type %d sql_type %d column_size %lu buffer_length %ld", i + 1, p.cType,
            p.sqlType, static_cast<unsigned long>(p.columnSize), static_cast<long>(p.bufferLength));
        SQLLEN bytes = fixedSize(p.cType);
        if (p.indicator) {
            std::fprintf(f, " indicator %ld", static_cast<long>(*p.indicator));
            if (*p.indicator >= 0 && bytes < 0)
                bytes = *p.indicator;
        } else {
            std::fprintf(f, " indicator none");
        }
        if (bytes >= 0 && p.value) {
            const auto *data = static_cast<const unsigned char *>(p.value);
            std::fprintf(f, " bytes");
            for (SQLLEN b = 0; b < bytes; ++b)
                std::fprintf(f, " %02x", data[b]);
            // Up to two bytes beyond the indicator, inside the buffer: where a terminator would be.
            const SQLLEN beyond = p.bufferLength - bytes < 2 ? p.bufferLength - bytes : 2;
            if (beyond > 0) {
                std::fprintf(f, " |");
                for (SQLLEN b = bytes; b < bytes + beyond; ++b)
                    std::fprintf(f, " %02x", data[b]);
            }
        }
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}

SQLRETURN fail(std::string &error, const char *text)
{
    error = text;
    return SQL_ERROR;
}

SQLRETURN connect(SQLHDBC hdbc, const std::string &in)
{
    auto *dbc = static_cast<Dbc *>(hdbc);
    dbc->log = attribute(in, "Log");
    if (dbc->log.empty())
        return fail(dbc->error, "[qalu-odbc-log] the connection string names no Log=FILE");
    return SQL_SUCCESS;
}

SQLRETURN getInfo(
    SQLHDBC hdbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bytes, SQLSMALLINT *length, bool wide)
{
    const char *text = nullptr;
    SQLUINTEGER number = 0;
    bool isShort = false;
    switch (type) {
    case SQL_DBMS_NAME:
        text = "Microsoft SQL Server"; // QODBC then treats it as SQL Server
        break;
    case SQL_DBMS_VER:
        text = "16.00.0000";
        break;
    case SQL_DRIVER_NAME:
        text = "libqalu-odbc-log.so";
        break;
    case SQL_DRIVER_VER:
        text = "01.00.0000";
        break;
    case SQL_DRIVER_ODBC_VER:
        text = "03.52";
        break;
    case SQL_SERVER_NAME:
        text = "qalu-odbc-log";
        break;
    case SQL_DATABASE_NAME:
        text = "log";
        break;
    case SQL_IDENTIFIER_QUOTE_CHAR:
        text = "\"";
        break;
    case SQL_MULT_RESULT_SETS:
        text = "N";
        break;
    case SQL_CONVERT_CHAR:
    case SQL_CONVERT_VARCHAR:
    case SQL_CONVERT_LONGVARCHAR:
        // Texts convert to their wide forms: what makes QODBC bind texts as SQL_C_WCHAR.
        number = SQL_CVT_CHAR | SQL_CVT_VARCHAR | SQL_CVT_LONGVARCHAR | SQL_CVT_WCHAR | SQL_CVT_WVARCHAR
            | SQL_CVT_WLONGVARCHAR;
        break;
    case SQL_SCHEMA_USAGE:
        number = SQL_SU_DML_STATEMENTS;
        break;
    case SQL_TXN_CAPABLE:
        number = SQL_TC_DML;
        isShort = true;
        break;
    case SQL_IDENTIFIER_CASE:
        number = SQL_IC_MIXED;
        isShort = true;
        break;
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR:
        number = SQL_CB_PRESERVE;
        isShort = true;
        break;
    default:
        return fail(static_cast<Dbc *>(hdbc)->error, "[qalu-odbc-log] information type not known");
    }
    if (text)
        return wide ? putText<SQLWCHAR>(text, value, bytes, length)
                    : putText<SQLCHAR>(text, value, bytes, length);
    if (isShort) {
        if (value)
            *static_cast<SQLUSMALLINT *>(value) = SQLUSMALLINT(number);
        if (length)
            *length = sizeof(SQLUSMALLINT);
    } else {
        if (value)
            *static_cast<SQLUINTEGER *>(value) = number;
        if (length)
            *length = sizeof(SQLUINTEGER);
    }
    return SQL_SUCCESS;
}

SQLRETURN diagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLPOINTER state,
    SQLINTEGER *native, SQLPOINTER message, SQLSMALLINT bytes, SQLSMALLINT *length, bool wide)
{
    std::string *error = nullptr;
    switch (type) {
    case SQL_HANDLE_ENV:
        error = &static_cast<Env *>(handle)->error;
        break;
    case SQL_HANDLE_DBC:
        error = &static_cast<Dbc *>(handle)->error;
        break;
    case SQL_HANDLE_STMT:
        error = &static_cast<Stmt *>(handle)->error;
        break;
    default:
        return SQL_INVALID_HANDLE;
    }
    if (record != 1 || error->empty())
        return SQL_NO_DATA;
    if (native)
        *native = 1;
    // The state is SQL_SQLSTATE_SIZE characters and a terminator; bytes are given as characters here.
    if (wide) {
        putText<SQLWCHAR>("HY000", state, SQLLEN(6 * sizeof(SQLWCHAR)), nullptr);
        const SQLRETURN r = putText<SQLWCHAR>(*error, message, SQLSMALLINT(bytes * 2), length);
        if (length)
            *length = SQLSMALLINT(*length / 2);
        return r;
    }
    putText<SQLCHAR>("HY000", state, SQLLEN(6), nullptr);
    return putText<SQLCHAR>(*error, message, bytes, length);
}

SQLRETURN execute(Stmt *stmt)
{
    logExecution(*stmt);
    return SQL_SUCCESS;
}

// The entry points never call each other: in a process that also links the driver manager, such
// a call would reach the manager's function of that name.
SQLRETURN getStmtAttr(SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER *length)
{
    auto *stmt = static_cast<Stmt *>(hstmt);
    if (!value)
        return SQL_SUCCESS;
    switch (attr) {
    case SQL_ATTR_APP_ROW_DESC:
    case SQL_ATTR_APP_PARAM_DESC:
    case SQL_ATTR_IMP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC:
        *static_cast<SQLPOINTER *>(value) = &stmt->descriptors[size_t(attr - SQL_ATTR_APP_ROW_DESC)];
        break;
    case SQL_ATTR_CURSOR_SCROLLABLE:
        *static_cast<SQLULEN *>(value) = SQL_NONSCROLLABLE;
        break;
    default:
        *static_cast<SQLULEN *>(value) = 0;
        break;
    }
    if (length)
        *length = sizeof(SQLULEN);
    return SQL_SUCCESS;
}

SQLRETURN getConnectAttr(SQLPOINTER value, SQLINTEGER *length)
{
    if (value)
        *static_cast<SQLUINTEGER *>(value) = 0;
    if (length)
        *length = sizeof(SQLUINTEGER);
    return SQL_SUCCESS;
}

} // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE *output)
{
    switch (type) {
    case SQL_HANDLE_ENV:
        *output = new Env;
        return SQL_SUCCESS;
    case SQL_HANDLE_DBC:
        *output = new Dbc;
        return SQL_SUCCESS;
    case SQL_HANDLE_STMT: {
        auto *stmt = new Stmt;
        stmt->dbc = static_cast<Dbc *>(input);
        *output = stmt;
        return SQL_SUCCESS;
    }
    default:
        return SQL_ERROR;
    }
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle)
{
    switch (type) {
    case SQL_HANDLE_ENV:
        delete static_cast<Env *>(handle);
        return SQL_SUCCESS;
    case SQL_HANDLE_DBC:
        delete static_cast<Dbc *>(handle);
        return SQL_SUCCESS;
    case SQL_HANDLE_STMT:
        delete static_cast<Stmt *>(handle);
        return SQL_SUCCESS;
    default:
        return SQL_INVALID_HANDLE;
    }
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT hstmt, SQLUSMALLINT option)
{
    auto *stmt = static_cast<Stmt *>(hstmt);
    if (option == SQL_RESET_PARAMS)
        stmt->params = {};
    if (option == SQL_DROP)
        delete stmt;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER)
{
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER)
{
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER)
{
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC, SQLINTEGER, SQLPOINTER value, SQLINTEGER, SQLINTEGER *length)
{
    return getConnectAttr(value, length);
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC, SQLINTEGER, SQLPOINTER value, SQLINTEGER, SQLINTEGER *length)
{
    return getConnectAttr(value, length);
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND, SQLCHAR *in, SQLSMALLINT inLength, SQLCHAR *out,
    SQLSMALLINT outBytes, SQLSMALLINT *outLength, SQLUSMALLINT)
{
    const std::string text = narrow(in, inLength);
    const SQLRETURN r = connect(hdbc, text);
    if (r == SQL_SUCCESS)
        putText<SQLCHAR>(text, out, outBytes, outLength);
    return r;
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC hdbc, SQLHWND, SQLWCHAR *in, SQLSMALLINT inLength, SQLWCHAR *out,
    SQLSMALLINT outChars, SQLSMALLINT *outLength, SQLUSMALLINT)
{
    const std::string text = narrow(in, inLength);
    const SQLRETURN r = connect(hdbc, text);
    if (r == SQL_SUCCESS) {
        putText<SQLWCHAR>(text, out, SQLSMALLINT(outChars * 2), outLength);
        if (outLength)
            *outLength = SQLSMALLINT(*outLength / 2);
    }
    return r;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC)
{
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetInfo(
    SQLHDBC hdbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bytes, SQLSMALLINT *length)
{
    return getInfo(hdbc, type, value, bytes, length, false);
}

SQLRETURN SQL_API SQLGetInfoW(
    SQLHDBC hdbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bytes, SQLSMALLINT *length)
{
    return getInfo(hdbc, type, value, bytes, length, true);
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR *state,
    SQLINTEGER *native, SQLCHAR *message, SQLSMALLINT bytes, SQLSMALLINT *length)
{
    return diagRec(type, handle, record, state, native, message, bytes, length, false);
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLWCHAR *state,
    SQLINTEGER *native, SQLWCHAR *message, SQLSMALLINT chars, SQLSMALLINT *length)
{
    return diagRec(type, handle, record, state, native, message, chars, length, true);
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT, SQLHANDLE, SQLSMALLINT)
{
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER)
{
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER)
{
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetStmtAttr(
    SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER, SQLINTEGER *length)
{
    return getStmtAttr(hstmt, attr, value, length);
}

SQLRETURN SQL_API SQLGetStmtAttrW(
    SQLHSTMT hstmt, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER, SQLINTEGER *length)
{
    return getStmtAttr(hstmt, attr, value, length);
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT hstmt, SQLCHAR *text, SQLINTEGER length)
{
    static_cast<Stmt *>(hstmt)->text = narrow(text, length);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT hstmt, SQLWCHAR *text, SQLINTEGER length)
{
    static_cast<Stmt *>(hstmt)->text = narrow(text, length);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT hstmt, SQLUSMALLINT number, SQLSMALLINT, SQLSMALLINT cType,
    SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT, SQLPOINTER value, SQLLEN bufferLength,
    SQLLEN *indicator)
{
    auto *stmt = static_cast<Stmt *>(hstmt);
    if (number < 1 || number > stmt->params.size())
        return fail(stmt->error, "[qalu-odbc-log] parameter number out of range");
    stmt->params[number - 1u] = Param { true, cType, sqlType, columnSize, bufferLength, value, indicator };
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT hstmt)
{
    return execute(static_cast<Stmt *>(hstmt));
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT hstmt, SQLCHAR *text, SQLINTEGER length)
{
    static_cast<Stmt *>(hstmt)->text = narrow(text, length);
    return execute(static_cast<Stmt *>(hstmt));
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT hstmt, SQLWCHAR *text, SQLINTEGER length)
{
    static_cast<Stmt *>(hstmt)->text = narrow(text, length);
    return execute(static_cast<Stmt *>(hstmt));
}

// No statement has a result: every execution changed one row, no columns, nothing to fetch.
SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT, SQLSMALLINT *count)
{
    *count = 0;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT, SQLLEN *count)
{
    *count = 1;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT)
{
    return SQL_NO_DATA;
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT, SQLSMALLINT, SQLLEN)
{
    return SQL_NO_DATA;
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT)
{
    return SQL_NO_DATA;
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT)
{
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT hstmt, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN *)
{
    return fail(static_cast<Stmt *>(hstmt)->error, "[qalu-odbc-log] no result columns");
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT hstmt, SQLUSMALLINT, SQLWCHAR *, SQLSMALLINT, SQLSMALLINT *,
    SQLSMALLINT *, SQLULEN *, SQLSMALLINT *, SQLSMALLINT *)
{
    return fail(static_cast<Stmt *>(hstmt)->error, "[qalu-odbc-log] no result columns");
}

// QODBC requires these to be present; they list nothing here.
SQLRETURN SQL_API SQLColumnsW(SQLHSTMT hstmt, SQLWCHAR *, SQLSMALLINT, SQLWCHAR *, SQLSMALLINT, SQLWCHAR *,
    SQLSMALLINT, SQLWCHAR *, SQLSMALLINT)
{
    return fail(static_cast<Stmt *>(hstmt)->error, "[qalu-odbc-log] no catalog");
}

SQLRETURN SQL_API SQLTablesW(SQLHSTMT hstmt, SQLWCHAR *, SQLSMALLINT, SQLWCHAR *, SQLSMALLINT, SQLWCHAR *,
    SQLSMALLINT, SQLWCHAR *, SQLSMALLINT)
{
    return fail(static_cast<Stmt *>(hstmt)->error, "[qalu-odbc-log] no catalog");
}

} // extern "C"
