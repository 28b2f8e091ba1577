#include "commands.h"

#include <cstdio>

namespace qalu::cli {

int runApply(const QStringList &)
{
    std::fputs("qalu-cli: 'apply' is not available yet\n", stderr);
    return 1;
}

} // namespace qalu::cli
