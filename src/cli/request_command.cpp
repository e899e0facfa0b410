#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/request_context.h"
#include "platform/web/process.h"
#include "pages/flownode/node_settings_page.h"
#include "platform/text/codepage.h"

namespace oapx1 {

std::string request_usage() {
  return "usage: oapx1 request [request options]\n"
         "Runs one request of the node settings page; the body goes to stdout (code page 936,\n"
         "or UTF-8 with --utf8), event log entries to stderr. Exit status 0 whenever the page ran.\n\n" +
         request_options_usage();
}

int request_command(const std::vector<std::string>& args) {
  const RequestOptions options = request_options(CommandLine(args, {request_flags()}, Words::kNone));
  refuse_missing_database(resolve_database(options.db), options.db);
  CommandRequest request(options);
  {
    tvwortqflowjiedia page;
    page.I_init();
    page.OnEndPage();
  }
  const std::string& body = request.response().body();
  const std::string out = options.utf8 ? body : utf8_to_gbk(body);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  for (const auto& [type, text] : request.events().entries())
    std::cerr << "event " << type << ": " << text << "\n";
  return 0;
}

}  // namespace oapx1
