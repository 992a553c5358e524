// Opens a flash container with the installed kqFlashLib and prints what it carries.
#include <cstdio>
#include <string>

#include <flashlib/flash_container.hpp>
#include <flashlib/version.hpp>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: flash_consumer FILE.fkq\n");
        return 2;
    }
    const std::string path = argv[1];
    kq::flashlib::CFlashContainer container(std::wstring(path.begin(), path.end()));
    kq::flashlib::Version format;
    if (container.OpenContainer(format) < 0 || container.ParseValues() < 0) {
        std::fprintf(stderr, "flash_consumer: cannot read %s: %s\n", argv[1], container.GetLoadError().c_str());
        return 1;
    }
    std::printf("firmware %d.%d product %d\n", container.GetFWVer().GetMajor(), container.GetFWVer().GetMinor(),
                container.GetProductCode());
    return 0;
}
