#include "output/fc_metadata.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/error.hpp"
#include "common/utc_time.hpp"
#include "output/fc_hash.hpp"

namespace qv {

namespace {

constexpr int kKnownVersion = 1;

[[noreturn]] void refuse(const std::string& path, const std::string& what) {
  throw Error("metadata file \"" + path + "\": " + what);
}

const nlohmann::json& member(const nlohmann::json& j, const char* key, const std::string& path, const char* where) {
  if (!j.is_object() || !j.contains(key)) refuse(path, std::string("expected the key \"") + key + "\" in " + where);
  return j.at(key);
}

}  // namespace

FcMetadata read_fc_metadata(const std::string& fc_path) {
  FcMetadata m;
  m.path = fc_path + ".json";
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(m.path, ec)) {
    m.why_absent = "no metadata file " + m.path + " beside it (files of qel_vort runs before the metadata file)";
    return m;
  }
  std::ifstream in(m.path, std::ios::binary);
  if (!in) refuse(m.path, std::string("cannot be opened (") + std::strerror(errno) + ")");
  std::ostringstream text;
  text << in.rdbuf();
  try {
    m.doc = nlohmann::json::parse(text.str());
  } catch (const nlohmann::json::parse_error& e) {
    refuse(m.path, std::string("not JSON: ") + e.what());
  }
  const nlohmann::json& d = m.doc;
  if (!d.is_object() || d.value("format", std::string()) != "qel_vort fc metadata")
    refuse(m.path, "not a qel_vort metadata file (no \"format\": \"qel_vort fc metadata\")");
  if (!d.contains("version") || !d["version"].is_number_integer() || d["version"].get<int>() != kKnownVersion)
    refuse(m.path, "version " + (d.contains("version") ? d["version"].dump() : std::string("(none)")) +
                       "; this program reads version " + std::to_string(kKnownVersion));
  try {
    const nlohmann::json& fc = member(d, "fc_file", m.path, "the file");
    const std::int64_t size = member(fc, "size_bytes", m.path, "\"fc_file\"").get<std::int64_t>();
    const std::string hash = member(fc, "hash", m.path, "\"fc_file\"").get<std::string>();
    const FcFileDigest digest = fc_file_digest(fc_path);
    if (size != digest.size || hash != fc_hash_hex(digest.hash))
      refuse(m.path, "describes a coefficient file of " + std::to_string(size) + " bytes with hash " + hash + ", but " +
                         fc_path + " has " + std::to_string(digest.size) + " bytes and hash " +
                         fc_hash_hex(digest.hash) + ": it belongs to another run; remove it or run qel_vort again");
    for (const nlohmann::json& lev : member(d, "levels", m.path, "the file")) {
      const nlohmann::json& w = member(lev, "window_time", m.path, "a level");
      if (w.is_null()) continue;
      FcWindowTime t;
      t.window1_unix_s = member(w, "window1_unix_s", m.path, "\"window_time\"").get<double>();
      t.step_s = member(w, "step_s", m.path, "\"window_time\"").get<double>();
      m.window_time[member(lev, "level_id", m.path, "a level").get<int>()] = t;
    }
  } catch (const nlohmann::json::exception& e) {
    refuse(m.path, std::string("a value of the wrong type: ") + e.what());
  }
  m.present = true;
  return m;
}

std::string unix_to_iso(double unix_s, int decimals) {
  if (!std::isfinite(unix_s)) return "-";
  const double whole = std::floor(unix_s);
  return iso_utc(static_cast<std::int64_t>(whole), unix_s - whole, decimals);
}

}  // namespace qv
