#include "netcdf_module.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "text/error.hpp"

#ifndef TILVEX_MODULE_DIR
#define TILVEX_MODULE_DIR "/usr/local/lib/tilvex"
#endif

namespace tilvex::grid {

namespace {

using OfRows = int (*)(const char*, std::size_t, const char* const[5], char**, std::size_t*, char**);
using IsGrid = int (*)(const char*, std::size_t);

struct Module {
  OfRows of_rows = nullptr;
  IsGrid is_grid = nullptr;
  std::string why;  // empty once loaded
};

// The folder of the running program.
std::string program_folder() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  const std::string exe(path, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

const Module& module() {
  static Module m;
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string name = "tilvex-netcdf.so";
    std::string tried;
    for (const std::string& folder : {program_folder(), std::string(TILVEX_MODULE_DIR)}) {
      if (folder.empty()) continue;
      const std::string path = folder + "/" + name;
      if (::access(path.c_str(), F_OK) != 0) {
        tried += (tried.empty() ? "" : ", ") + path;
        continue;
      }
      void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) {
        m.why = "cannot load the netCDF writer " + path + ": " + ::dlerror();
        return;
      }
      m.of_rows = reinterpret_cast<OfRows>(::dlsym(handle, "tilvex_netcdf_of_rows"));
      m.is_grid = reinterpret_cast<IsGrid>(::dlsym(handle, "tilvex_netcdf_is_grid"));
      if (m.of_rows == nullptr || m.is_grid == nullptr) m.why = path + " is not tilvex's netCDF writer";
      return;
    }
    m.why = "the netCDF writer is not installed (no " + tried + ")";
  });
  return m;
}

}  // namespace

std::string load_netcdf_module() { return module().why; }

std::string netcdf_of_rows(std::string_view rows, const formats::GridAttributes& a) {
  const Module& m = module();
  if (!m.why.empty()) throw Error(m.why);
  const char* attributes[5] = {a.source.c_str(), a.history.c_str(), a.level ? a.level->c_str() : nullptr,
                               a.list ? a.list->c_str() : nullptr, a.table ? a.table->c_str() : nullptr};
  char* bytes = nullptr;
  char* error = nullptr;
  std::size_t length = 0;
  if (m.of_rows(rows.data(), rows.size(), attributes, &bytes, &length, &error) != 0) {
    const std::string why = error != nullptr ? error : "out of memory";
    std::free(error);
    throw Error(why);
  }
  std::string out(bytes, length);
  std::free(bytes);
  return out;
}

bool is_grid_netcdf(std::string_view bytes) {
  const Module& m = module();
  return m.why.empty() && m.is_grid(bytes.data(), bytes.size()) == 1;
}

}  // namespace tilvex::grid
