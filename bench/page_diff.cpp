// page_diff: how many pages differ between two files, for bench/scale.sh to
// tell the bytes a purge changed from the bytes it wrote.
//
//   page_diff BEFORE AFTER [PAGE_SIZE]
//
// Reads both files a page at a time (4096 bytes unless told: Jet 4; Jet 3
// pages are 2048) and prints "pages=N changed=C changed_bytes=B": a page
// counts as changed when its bytes differ or when only one file has it.
// Memory stays at two pages whatever the files' size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "uso: page_diff ANTES DESPUES [TAMAÑO_DE_PAGINA]\n");
    return 2;
  }
  const size_t page = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 4096;
  if (page == 0) {
    std::fprintf(stderr, "page_diff: tamaño de página no válido\n");
    return 2;
  }
  std::ifstream a(argv[1], std::ios::binary), b(argv[2], std::ios::binary);
  if (!a || !b) {
    std::fprintf(stderr, "page_diff: no se puede abrir %s\n", !a ? argv[1] : argv[2]);
    return 1;
  }
  std::vector<char> x(page), y(page);
  uint64_t pages = 0, changed = 0;
  for (;;) {
    a.read(x.data(), static_cast<std::streamsize>(page));
    b.read(y.data(), static_cast<std::streamsize>(page));
    const auto got_a = static_cast<size_t>(a.gcount()), got_b = static_cast<size_t>(b.gcount());
    if (got_a == 0 && got_b == 0) break;
    ++pages;
    if (got_a != got_b || std::memcmp(x.data(), y.data(), got_a) != 0) ++changed;
  }
  std::printf("pages=%llu changed=%llu changed_bytes=%llu\n",
              static_cast<unsigned long long>(pages), static_cast<unsigned long long>(changed),
              static_cast<unsigned long long>(changed * page));
  return 0;
}
