// Instrument responses: a pole-zero line, or a response table file in one of
// its layouts, evaluated at frequencies across and beyond the table.
#include "calibration/filter_response.hpp"
#include "calibration/pole_zero.hpp"
#include "calibration/response_file.hpp"
#include "fuzz/harnesses/support.hpp"

namespace qv::fuzz {

int response(const std::uint8_t* data, std::size_t size) {
  static constexpr int kTypes[] = {ft_te, ft_tb, ft_pa, ft_05, ft_ap, ft_ri};
  Input in(data, size);
  const int pick = in.byte() % 7;
  const std::string_view text = in.rest();
  static constexpr float kHz[] = {0.0f, 1e-4f, 0.01f, 0.5f, 1.0f, 3.0f, 100.0f, 1e4f};
  return expect_errors([&] {
    if (pick == 0) {
      PoleZero pz;
      std::string why;
      if (!parse_pole_zero(text, pz, why)) {
        if (why.empty()) finding("a pole-zero line refused without a reason");
        return;
      }
      for (float hz : kHz) pz_response(pz, hz);
      return;
    }
    const std::string path = write_file(scratch() / "table.rsp", text);
    QuietConsole q;
    ResponseFile t;
    if (load_response_file(kTypes[pick - 1], path, t, q.con) != RspLoad::loaded) return;
    std::complex<float> H;
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j <= 4; ++j) {
        for (float hz : kHz) response_at(t, i, j, hz, H);
        // On the rows and between them.
        const auto& rows = t.rows[static_cast<std::size_t>(i - 1)];
        for (int r = 1; r <= t.nrows[static_cast<std::size_t>(i - 1)]; ++r) {
          response_at(t, i, j, rows[r][0], H);
          response_at(t, i, j, 0.5f * (rows[r - 1][0] + rows[r][0]), H);
        }
      }
  });
}

}  // namespace qv::fuzz
