#include "proc/search.h"

#include "proc/directory.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

SearchList command_search_list{};
SearchList cd_search_list{};
std::array<char, 260> home_directory{};

namespace {

// Room for entries: the list holds at most this many bytes before its end
// mark.
constexpr std::size_t kListLimit = 508;

bool is_separator(char c) {
  for (const char* s = plat::defaults().list_separators; *s; ++s)
    if (*s == c) return true;
  return false;
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Whether the name ends in ext (".XYZ"), without regard to case.
bool ends_with(const char* name, std::size_t n, const char* ext) {
  if (n < 4) return false;
  for (std::size_t i = 0; i < 4; ++i)
    if (upper(name[n - 4 + i]) != ext[i]) return false;
  return true;
}


}  // namespace

void build_search_list(SearchList& list, const char* text) {
  std::size_t n = 0;
  auto put = [&](char c) {
    if (n >= kListLimit) fatal_error(VEK_ERR(kErrLimit), "(CD)PATH");
    list[n++] = c;
  };
  auto put_dot = [&] {
    put('.');
    put(0);
  };
  const char* p = text;
  if (*p && is_separator(*p)) put_dot();
  bool open = false;
  while (*p) {
    if (is_separator(*p)) {
      if (open) put(0);
      open = false;
      while (*p && is_separator(*p)) ++p;
      if (*p == 0) put_dot();
      continue;
    }
    put(*p == '/' ? '\\' : *p);
    open = true;
    ++p;
  }
  if (open) put(0);
  put_dot();
  list[n] = static_cast<char>(0xFF);
}

Extension extension_of(const char* name) {
  const std::size_t n = str_len(name);
  if (ends_with(name, n, ".EXE")) return Extension::kExe;
  if (ends_with(name, n, ".COM")) return Extension::kCom;
  if (ends_with(name, n, ".BAT")) return Extension::kBat;
  if (ends_with(name, n, ".VEK")) return Extension::kVek;
  if (ends_with(name, n, ".CMD")) return Extension::kCmd;
  return Extension::kNone;
}

int file_test(int letter, const char* path, plat::FileInfo* status) {
  std::array<char, 520> name{};
  concat_strings_n(static_cast<int>(name.size()), name.data(), {path});
  path_normalize(name.data());
  plat::FileInfo info;
  if (stat_on_drive(name.data(), info) != 0) return 0;
  if (status != nullptr) *status = info;
  int bits = kFileExists;
  if (info.size > 0) bits |= kFileNonEmpty;
  if (info.mode & 0444) bits |= kFileReadable;
  if (info.mode & 0222) bits |= kFileWritable;
  if (info.is_regular) bits |= kFileRegular;
  if (info.is_dir) bits |= kFileDirectory;
  if (info.is_char_device) bits |= kFileCharDevice;
  if (info.is_regular && info.size > 0) {
    const Extension e = extension_of(name.data());
    const bool by_name = e == Extension::kExe || e == Extension::kCom || e == Extension::kBat || e == Extension::kCmd;
    if (by_name || info.executable) bits |= kFileExecutable;
  }
  int need = 0;
  switch (letter) {
    case 'F': need = kFileRegular | kFileNonEmpty; break;
    case 'X': need = kFileRegular | kFileNonEmpty | kFileExecutable; break;
    case 'd': need = kFileDirectory; break;
    case 'f': need = kFileRegular; break;
    default: break;
  }
  return (bits & need) == need ? bits : 0;
}

const char* search_command(bool absolute, const char* name) {
  static std::array<char, 512> result;
  if (name == nullptr || name[0] == 0) return nullptr;
  std::array<char, 512> word{};
  concat_strings_n(static_cast<int>(word.size()), word.data(), {name});
  path_normalize(word.data());
  const std::size_t n = str_len(word.data());

  // A name with an extension of its own (a dot among its last four
  // characters, no "\" or ":" after it) is tried as it is only.
  bool own_extension = false;
  for (std::size_t i = n >= 4 ? n - 4 : 0; i < n; ++i) {
    if (word[i] == '.') own_extension = true;
    else if (word[i] == '\\' || word[i] == ':') own_extension = false;
  }
  // The bare name, then the platform's extensions in their order.
  const auto& extensions = plat::defaults().extensions;
  const std::size_t tries = own_extension ? 1 : 1 + sizeof extensions / sizeof extensions[0];
  bool has_dir = false;
  for (std::size_t i = 0; i < n; ++i)
    if (word[i] == '\\') has_dir = true;

  std::array<char, 512> candidate{};
  auto attempt = [&](const char* dir) {
    for (std::size_t t = 0; t < tries; ++t) {
      const char* ext = t == 0 ? "" : extensions[t - 1];
      if (dir != nullptr) concat_strings_n(static_cast<int>(candidate.size()), candidate.data(), {dir, "\\", word.data(), ext});
      else concat_strings_n(static_cast<int>(candidate.size()), candidate.data(), {word.data(), ext});
      if (absolute) {
        make_absolute(result, candidate.data());
      } else {
        result = candidate;
      }
      collapse_backslashes(result.data());
      if (file_test('F', result.data()) != 0) return true;
    }
    return false;
  };
  if (has_dir) return attempt(nullptr) ? result.data() : nullptr;
  return for_each_entry(command_search_list, attempt) ? result.data() : nullptr;
}

}  // namespace vek
