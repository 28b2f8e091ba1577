#include "command_line.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#ifdef _WIN32
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

UINT g_consoleCodePage = 0;

// The output is UTF-8 bytes, as on Linux: in binary mode, so a redirected file gets no CR before
// each line feed; and a console is switched to UTF-8 while the program runs, so it shows Arabic
// as written rather than through the ANSI code page.
void setUpStandardStreams()
{
    for (FILE *stream : { stdout, stderr }) {
        const int fd = _fileno(stream);
        std::fflush(stream);
        _setmode(fd, _O_BINARY);
        DWORD mode = 0;
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
        if (g_consoleCodePage == 0 && GetConsoleMode(handle, &mode)) {
            g_consoleCodePage = GetConsoleOutputCP();
            SetConsoleOutputCP(CP_UTF8);
            std::atexit([] { SetConsoleOutputCP(g_consoleCodePage); });
        }
    }
}

} // namespace
#endif

int main(int argc, char *argv[])
{
#ifdef _WIN32
    setUpStandardStreams();
#endif
    QCoreApplication app(argc, argv);
    // Standard output and error are a contract: the program's own warnings appear only when
    // asked for through QT_LOGGING_RULES.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qalu.*=false"));
    return qalu::cli::dispatch(QCoreApplication::arguments().mid(1));
}
