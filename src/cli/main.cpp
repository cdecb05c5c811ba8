// brenvik-cli: the command-line front end over the core.
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "用法: brenvik-cli [选项] 地址\n"
    "  -h, --help      显示本帮助\n"
    "      --version   显示版本\n";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("brenvik-cli 0.1.0");
            return 0;
        }
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    std::fputs(kUsage, stderr);
    return argc > 1 ? 2 : 0;
}
