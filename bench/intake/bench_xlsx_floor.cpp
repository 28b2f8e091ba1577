// The floors under the workbook reader: the time to inflate one part of an .xlsx with libzip and,
// with `expat`, to run that part through expat with empty handlers on the same thread.
// Prints "seconds<TAB>bytes<TAB>peak-KiB".
#include <expat.h>
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>

int main(int argc, char *argv[])
{
    const bool parse = argc == 4 && std::strcmp(argv[3], "expat") == 0;
    if (argc != 3 && !parse) {
        std::fputs("usage: bench_xlsx_floor WORKBOOK PART [expat]\n", stderr);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    int error = 0;
    std::unique_ptr<zip_t, void (*)(zip_t *)> zip(zip_open(argv[1], ZIP_RDONLY, &error), zip_discard);
    if (!zip) {
        std::fprintf(stderr, "bench_xlsx_floor: cannot open %s (%d)\n", argv[1], error);
        return 1;
    }
    std::unique_ptr<zip_file_t, int (*)(zip_file_t *)> file(zip_fopen(zip.get(), argv[2], 0), zip_fclose);
    if (!file) {
        std::fprintf(stderr, "bench_xlsx_floor: no part %s\n", argv[2]);
        return 1;
    }
    XML_Parser parser = parse ? XML_ParserCreate(nullptr) : nullptr;
    if (parser) {
        XML_SetElementHandler(
            parser, [](void *, const XML_Char *, const XML_Char **) {}, [](void *, const XML_Char *) {});
        XML_SetCharacterDataHandler(parser, [](void *, const XML_Char *, int) {});
    }
    constexpr int chunk = 256 * 1024;
    static char buffer[chunk];
    long long total = 0;
    for (;;) {
        char *into = parser ? static_cast<char *>(XML_GetBuffer(parser, chunk)) : buffer;
        const zip_int64_t n = zip_fread(file.get(), into, chunk);
        if (n < 0) {
            std::fprintf(stderr, "bench_xlsx_floor: read error\n");
            return 1;
        }
        if (parser && XML_ParseBuffer(parser, int(n), n == 0) != XML_STATUS_OK) {
            std::fprintf(stderr, "bench_xlsx_floor: %s\n", XML_ErrorString(XML_GetErrorCode(parser)));
            return 1;
        }
        if (n == 0)
            break;
        total += n;
    }
    if (parser)
        XML_ParserFree(parser);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.3f\t%lld\t%ld\n", seconds, total, usage.ru_maxrss);
    return 0;
}
