// Loading of one LAPACK provider into its own link-map namespace. Both
// Debian providers use the sonames liblapack.so.3 / libblas.so.3, so in one
// namespace the second would bind to the first one's BLAS; dlmopen keeps
// each provider's dependencies apart.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "bench/lapack_provider.hpp"

#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace pband::bench {
namespace {

std::string real_path(const char* path) {
  if (path == nullptr || *path == '\0') return "?";
  char buffer[PATH_MAX];
  if (realpath(path, buffer) == nullptr) return path;
  return buffer;
}

std::string file_of(void* symbol) {
  Dl_info info{};
  if (dladdr(symbol, &info) == 0) return "?";
  return real_path(info.dli_fname);
}

bool is_numeric_library(const std::string& path) {
  return path.find("blas") != std::string::npos ||
         path.find("lapack") != std::string::npos;
}

// Files of the namespace that holds `handle`, first to last.
std::vector<std::string> namespace_files(void* handle) {
  std::vector<std::string> files;
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
    return files;
  while (map->l_prev != nullptr) map = map->l_prev;
  for (; map != nullptr; map = map->l_next) {
    std::string path = real_path(map->l_name);
    if (is_numeric_library(path)) files.push_back(path);
  }
  return files;
}

}  // namespace

LapackProvider load_lapack_provider(const std::string& name,
                                    const std::vector<std::string>& libraries,
                                    int threads) {
  LapackProvider p;
  p.name = name;
  p.loader = "dlmopen(LM_ID_NEWLM), RTLD_NOW|RTLD_LOCAL";
  // OpenBLAS reads its thread count when it is loaded; the call after the
  // load below sets it again for builds that ignore the variable.
  if (threads > 0)
    setenv("OPENBLAS_NUM_THREADS", std::to_string(threads).c_str(), 1);
  Lmid_t lmid = LM_ID_NEWLM;
  void* handle = nullptr;
  for (const std::string& lib : libraries) {
    handle = dlmopen(lmid, lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      p.error = "cannot load " + lib + ": " + (why ? why : "?");
      return p;
    }
    if (lmid == LM_ID_NEWLM && dlinfo(handle, RTLD_DI_LMID, &lmid) != 0) {
      p.error = "cannot read the namespace of " + lib;
      return p;
    }
  }
  if (handle == nullptr) {
    p.error = "no library named";
    return p;
  }
  p.spbsv = reinterpret_cast<PbsvR4>(dlsym(handle, "spbsv_"));
  p.dpbsv = reinterpret_cast<PbsvR8>(dlsym(handle, "dpbsv_"));
  if (p.spbsv == nullptr || p.dpbsv == nullptr) {
    p.error = "spbsv_/dpbsv_ not found in " + libraries.back();
    return p;
  }
  p.zpbsv = reinterpret_cast<PbsvZ>(dlsym(handle, "zpbsv_"));
  p.dsbmv = reinterpret_cast<SbmvR8>(dlsym(handle, "dsbmv_"));
  p.dpbtrf = reinterpret_cast<PbtrfR8>(dlsym(handle, "dpbtrf_"));
  p.dpbtrs = reinterpret_cast<PbtrsR8>(dlsym(handle, "dpbtrs_"));
  p.dpbcon = reinterpret_cast<PbconR8>(dlsym(handle, "dpbcon_"));
  p.dpbrfs = reinterpret_cast<PbrfsR8>(dlsym(handle, "dpbrfs_"));
  p.spbsv_file = file_of(reinterpret_cast<void*>(p.spbsv));
  p.dpbsv_file = file_of(reinterpret_cast<void*>(p.dpbsv));
  p.loaded = namespace_files(handle);

  using SetThreads = void (*)(int);
  using GetThreads = int (*)();
  using GetText = char* (*)();
  auto set_threads =
      reinterpret_cast<SetThreads>(dlsym(handle, "openblas_set_num_threads"));
  auto get_threads =
      reinterpret_cast<GetThreads>(dlsym(handle, "openblas_get_num_threads"));
  auto get_config =
      reinterpret_cast<GetText>(dlsym(handle, "openblas_get_config"));
  auto get_core =
      reinterpret_cast<GetText>(dlsym(handle, "openblas_get_corename"));
  if (set_threads != nullptr && threads > 0) set_threads(threads);
  p.threads = get_threads != nullptr ? std::to_string(get_threads())
                                     : "1 (single-threaded library)";
  if (get_config != nullptr) p.config = get_config();
  if (get_core != nullptr) p.config += std::string(", core ") + get_core();
  return p;
}

int run_pbsv(PbsvR4 f, float* ab, int n, int hb, float* b) {
  const int nrhs = 1;
  const int ldab = hb + 1;
  const int ldb = n > 1 ? n : 1;
  int info = 0;
  f("L", &n, &hb, &nrhs, ab, &ldab, b, &ldb, &info, 1);
  return info;
}

int run_pbsv(PbsvR8 f, double* ab, int n, int hb, double* b) {
  const int nrhs = 1;
  const int ldab = hb + 1;
  const int ldb = n > 1 ? n : 1;
  int info = 0;
  f("L", &n, &hb, &nrhs, ab, &ldab, b, &ldb, &info, 1);
  return info;
}

}  // namespace pband::bench
