// Feeds a fuzz target every input kept in the directories (or files) given,
// without libFuzzer: the seeds and the regressions of each target run with
// every host test. A broken invariant aborts; the count is printed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t *Data, size_t Size);

int
main (
  int   Argc,
  char  **Argv
  )
{
  std::vector<std::filesystem::path>  Inputs;

  for (int Index = 1; Index < Argc; Index++) {
    std::filesystem::path  Path (Argv[Index]);

    if (std::filesystem::is_directory (Path)) {
      for (const auto &Entry : std::filesystem::directory_iterator (Path)) {
        if (Entry.is_regular_file () && (Entry.path ().filename ().string ()[0] != '.')) {
          Inputs.push_back (Entry.path ());
        }
      }
    } else if (std::filesystem::is_regular_file (Path)) {
      Inputs.push_back (Path);
    }
  }

  std::sort (Inputs.begin (), Inputs.end ());
  for (const std::filesystem::path &Path : Inputs) {
    std::ifstream         Stream (Path, std::ios::binary);
    std::vector<uint8_t>  Bytes ((std::istreambuf_iterator<char> (Stream)), std::istreambuf_iterator<char> ());

    std::printf ("%s\n", Path.c_str ());
    std::fflush (stdout);
    LLVMFuzzerTestOneInput (Bytes.data (), Bytes.size ());
  }

  std::printf ("%zu inputs replayed\n", Inputs.size ());
  return Inputs.empty () ? 1 : 0;
}
