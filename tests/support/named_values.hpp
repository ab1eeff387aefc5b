// Test support: what a run left, as named values to check one by one. A
// station case's expect.csv may be such a table instead of the whole
// coefficient dump:
//   name,value,tolerance
// The value is compared as text, or, with a tolerance, as a number within
// that absolute distance. Names:
//   nch nlevels nfmx levoff body_levels record_length header_complete size blocks
//   level.<i>.id .nwin .dr          the header's i-th listed level
//   channel.<c>.id .orient .tilt    channel c (from 1); ids keep their blanks
//   lat lon decl
//   header.text                     the header records: this text, then blanks
//   listed.<id>                     position of level id in the header, 0 if none
//   block.<id>.<F>.n .windows       records of a block, their window numbers
//   block.<id>.<F>.scale.<c>        mean amplitude of channel c of the block
//   coef.<id>.<F>.<window>.<c>.re .im   a decoded coefficient
//   console:<line>                  how many console lines are exactly <line>
//   console*:<start>                how many console lines begin with <start>
// (<id> is a level identifier, levoff + level; console texts hold no comma.)
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "output/fc_reader.hpp"

namespace qv::testing_support {

using NamedValues = std::map<std::string, std::string>;

inline std::string number_text(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

inline void add_header_values(FcReader& fc, NamedValues& v) {
  const FcHeader& h = fc.header();
  v["nch"] = number_text(h.nch);
  v["nlevels"] = number_text(h.nlevels);
  v["nfmx"] = number_text(h.nfmx);
  v["levoff"] = number_text(fc.levoff());
  v["body_levels"] = number_text(fc.body_levels());
  v["record_length"] = number_text(fc.record_length());
  v["header_complete"] = fc.header_complete() ? "1" : "0";
  v["size"] = number_text(static_cast<double>(fc.size()));
  v["blocks"] = number_text(static_cast<double>(fc.blocks().size()));
  v["header.text"] = fc.header_text();
  for (int i = 1; i <= h.nlevels; ++i) {
    const std::string l = "level." + std::to_string(i);
    v[l + ".id"] = number_text(h.level_id[i]);
    v[l + ".nwin"] = number_text(h.nwin[i]);
    v[l + ".dr"] = number_text(h.dr[i]);
  }
  for (int c = 0; c < h.nch; ++c) {
    const std::string ch = "channel." + std::to_string(c + 1);
    v[ch + ".id"] = h.chid[c];
    v[ch + ".orient"] = number_text(h.orient[c]);
    v[ch + ".tilt"] = number_text(h.tilt[c]);
  }
  v["lat"] = number_text(h.lat);
  v["lon"] = number_text(h.lon);
  v["decl"] = number_text(h.decl);
  for (int id = fc.levoff() + 1; id <= fc.levoff() + fc.body_levels(); ++id)
    v["listed." + std::to_string(id)] = number_text(fc.listed(id));
}

inline void add_block_values(FcReader& fc, NamedValues& v) {
  const int nch = fc.header().nch;
  std::vector<FcCoefRecord> recs;
  for (const FcBlockInfo& b : fc.blocks()) {
    const std::string block = std::to_string(b.level_id) + "." + std::to_string(b.findex);
    v["block." + block + ".n"] = number_text(b.n);
    for (int c = 0; c < nch; ++c) v["block." + block + ".scale." + std::to_string(c + 1)] = number_text(b.scale[c]);
    fc.read_records(b, recs);
    std::string windows;
    for (const FcCoefRecord& r : recs) {
      windows += (windows.empty() ? "" : " ") + std::to_string(r.window);
      for (int c = 0; c < nch; ++c) {
        float re = 0, im = 0;
        decode_fc(r.word[c], b.scale[c], re, im);
        const std::string coef = "coef." + block + "." + std::to_string(r.window) + "." + std::to_string(c + 1);
        v[coef + ".re"] = number_text(re);
        v[coef + ".im"] = number_text(im);
      }
    }
    v["block." + block + ".windows"] = windows;
  }
}

// The named values of a Fourier-coefficient file.
inline NamedValues fc_named_values(const std::string& path) {
  NamedValues v;
  FcReader fc(path);
  add_header_values(fc, v);
  add_block_values(fc, v);
  return v;
}

// The value of a console:<line> or console*:<start> name.
inline std::string console_count(const std::string& console, const std::string& name) {
  const bool prefix = name.rfind("console*:", 0) == 0;
  const std::string want = name.substr(prefix ? 9 : 8);
  std::istringstream lines(console);
  std::string line;
  int n = 0;
  while (std::getline(lines, line))
    if (prefix ? line.rfind(want, 0) == 0 : line == want) ++n;
  return std::to_string(n);
}

// Checks every row of a name,value,tolerance table; where names one case.
inline void check_named_values(const NamedValues& values, const std::string& console, const std::string& table,
                               const std::string& where) {
  std::istringstream lines(table);
  std::string row;
  std::getline(lines, row);  // the column names
  int line_no = 1, checked = 0;
  while (std::getline(lines, row)) {
    ++line_no;
    const std::size_t a = row.find(','), b = row.rfind(',');
    if (a == std::string::npos || a == b) {
      ADD_FAILURE() << where << " line " << line_no << ": expected name,value,tolerance, got \"" << row << "\"";
      continue;
    }
    const std::string name = row.substr(0, a), want = row.substr(a + 1, b - a - 1), tol = row.substr(b + 1);
    std::string got;
    if (name.rfind("console", 0) == 0) {
      got = console_count(console, name);
    } else if (const auto it = values.find(name); it != values.end()) {
      got = it->second;
    } else {
      ADD_FAILURE() << where << " line " << line_no << ": the run gave no value named " << name;
      continue;
    }
    ++checked;
    if (tol.empty()) {
      // header.text: the expected text, then blanks to the end of the header records.
      const std::string w = name == "header.text" && want.size() < got.size() ? want + std::string(got.size() - want.size(), ' ') : want;
      EXPECT_EQ(got, w) << where << " line " << line_no << ": " << name;
    } else {
      EXPECT_NEAR(std::strtod(got.c_str(), nullptr), std::strtod(want.c_str(), nullptr), std::strtod(tol.c_str(), nullptr))
          << where << " line " << line_no << ": " << name;
    }
  }
  EXPECT_GT(checked, 0) << where << " checks nothing";
}

}  // namespace qv::testing_support
