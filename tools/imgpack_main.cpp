// imgpack <folder> <output base path>: packs a folder's files into <base>.img and <base>.dir.

#include <exception>
#include <iostream>

#include "imgpack.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: imgpack <folder> <output base path>\n"
                 "Packs every file directly inside <folder>, in name order, into\n"
                 "<output base path>.img and <output base path>.dir.\n";
    return 2;
  }
  try {
    sectorsieve::imgpack::PackFolder(argv[1], argv[2]);
  } catch (const std::exception& e) {
    std::cerr << "imgpack: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
