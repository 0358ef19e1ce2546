#include "tests/support/install_program.h"

#include <filesystem>
#include <system_error>

namespace test {

std::string install_program(std::string const& built, std::string const& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  if (!error) fs::copy_file(built, path, fs::copy_options::overwrite_existing, error);
  if (!error)
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec,
                    error);
  if (error) return "install " + built + " as " + path + ": " + error.message();
  return {};
}

}  // namespace test
