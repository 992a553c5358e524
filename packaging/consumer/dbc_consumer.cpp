// Reads a DBC file with the installed kqDbcLib and prints its messages.
#include <cstdio>
#include <string>

#include <dbclib/dbc.hpp>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dbc_consumer FILE.dbc\n");
        return 2;
    }
    const std::string path = argv[1];
    kq::dbclib::Dbc_File file;
    kq::dbclib::Dbc_ReadReport report;
    file.ReadFromFile(std::wstring(path.begin(), path.end()), L"de-DE", report);
    if (report.status != kq::dbclib::Dbc_ReadStatus::Complete) {
        std::fprintf(stderr, "dbc_consumer: cannot read %s\n", argv[1]);
        return 1;
    }
    std::printf("messages %zu\n", file.network->messages.size());
    return file.network->messages.empty() ? 1 : 0;
}
