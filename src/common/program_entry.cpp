#include "common/program_entry.hpp"

#include <new>

#include "common/error.hpp"

namespace qv {

bool answer_info_request(const ProgramInfo& info, const std::vector<std::string>& args, std::ostream& out) {
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      out << info.usage << std::flush;
      return true;
    }
    if (a == "--version") {
      out << info.name << ' ' << kProgramVersion << " (" << kProgramDate << ")\n" << std::flush;
      return true;
    }
  }
  return false;
}

int guarded_main(const ProgramInfo& info, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err, const std::function<int()>& body) {
  try {
    if (answer_info_request(info, args, out)) return 0;
    return body();
  } catch (const Error& e) {
    out.flush();
    err << info.name << ": " << e.what() << '\n';
  } catch (const std::bad_alloc&) {
    out.flush();
    err << info.name << ": not enough memory for the arrays of this run\n";
  } catch (const std::exception& e) {
    out.flush();
    err << info.name << ": internal error: " << e.what() << '\n';
  }
  err.flush();
  return 1;
}

}  // namespace qv
