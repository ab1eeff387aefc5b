#include "output/output_store.hpp"

#include <string>

#include "common/error.hpp"
#include "common/limits.hpp"

namespace qv {

void output_store_allocate(OutputStore& store, int nsmax, int nfmx, int nch) {
  if (nsmax < 0 || nfmx < 0 || nch < 1 || nch > nchmx)
    throw Error("output store: impossible size (" + std::to_string(nsmax) + " windows, " +
                std::to_string(nfmx) + " coefficients, " + std::to_string(nch) + " channels)");
  store.nch = nch;
  store.nfmx = nfmx;
  store.rows = std::int64_t(nsmax) * nfmx;
  const std::size_t n = static_cast<std::size_t>(store.rows);
  store.re.reset(new float[n * nch]);
  store.im.reset(new float[n * nch]);
  store.findex.reset(new std::int32_t[n]);
  store.pos = 0;
}

void store_fc(OutputStore& store, const WindowArray& w, int m) {
  const int nch = w.nch();
  w.require_coefficients(m, "output store");
  if (nch > store.nch)
    throw Error("output store: " + std::to_string(nch) + " channels given, store holds " +
                std::to_string(store.nch));
  if (m < 0 || m > store.nfmx || store.pos + m > store.rows)
    throw Error("output store: no room for a window of " + std::to_string(m) + " coefficients (" +
                std::to_string(store.pos) + " of " + std::to_string(store.rows) + " rows used)");
  const int ld = store.nch;
  for (int k = 1; k <= m; ++k) {
    const std::int64_t r = store.pos + k - 1;
    store.findex[r] = k;
    float* re = &store.re[r * ld];
    float* im = &store.im[r * ld];
    for (int c = 0; c < nch; ++c) {
      re[c] = w.re(c, k);
      im[c] = w.im(c, k);
    }
    for (int c = nch; c < ld; ++c) re[c] = im[c] = 0.0f;
  }
  store.pos += m;
}

}  // namespace qv
