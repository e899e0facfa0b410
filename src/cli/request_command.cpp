#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "cli/request_context.h"
#include "pages/flownode/node_settings_page.h"
#include "platform/text/codepage.h"

namespace oapx1 {

int request_command(const std::vector<std::string>& args) {
  RequestOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!take_request_option(args, i, options)) throw UsageError{"unknown option " + args[i]};
  }
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
