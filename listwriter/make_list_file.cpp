// Build-host tool: the medium's file.dat from the list's single source (one name a line), made
// with the same code the list writer writes it with.
// Usage: make_list_file NAMES_TXT FILE_DAT
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "shared/list_format.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_list_file NAMES_TXT FILE_DAT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "make_list_file: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        names.push_back(line);
    }
    std::vector<const char*> pointers;
    for (const std::string& name : names) pointers.push_back(name.c_str());
    std::string image = tovra::list_format::FileImage(pointers);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_list_file: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
