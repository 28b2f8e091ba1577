#include "commands.h"

#include <cstdio>

namespace qalu::cli {

int runGrid(const QStringList &)
{
    std::fputs("qalu-cli: 'grid' is not available yet\n", stderr);
    return 1;
}

} // namespace qalu::cli
