// The connection include: the connection and session guard, the first
// include initialiser of every page, and closedb.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "host/page.h"
#include "lookups/rows.h"
#include "platform/components/components.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"

namespace oapx1 {
namespace {

constexpr int kScriptTimeoutSeconds = 99999;
constexpr int kCommandTimeoutSeconds = 999;
constexpr int kDefaultSessionMinutes = 45;

}  // namespace

void Page::tvdb_connI_init() {
  initialiser(__func__, [&] {
    server_object().set_script_timeout(kScriptTimeoutSeconds);
    response_object().set_expires(0);
    session_object().set_code_page(936);

    conn = CreateObject("ADODB.Connection");
    conn.as<Connection>().CommandTimeout(kCommandTimeoutSeconds);
    Application& app = application_object();
    const Variant cached = app.item("KXTDBConnectString");
    if (script_unequal(cached, "")) {
      conn.as<Connection>().Open(cached);
    } else {
      // The first request of the application fetches the string from the
      // provider and caches it for every later one.
      connprovider = CreateObject("TavrinKxt.kxt2008");
      conn.as<Connection>().Open(connprovider.as<ConnectStringProvider>().ConnectString());
      app.lock();
      app.set_item("KXTDBConnectString", connprovider.as<ConnectStringProvider>().ConnectString());
      app.unlock();
      connprovider = Variant::nothing();
    }

    timeoutvalue = kDefaultSessionMinutes;
    sql = "select * from OA_AnQuan";
    Variant settings = open_rows(sql, conn);
    Recordset& r = settings.as<Recordset>();
    if (r.RecordCount() > 0) timeoutvalue = r.field("TimeOut");
    if (timeoutvalue.is_null()) timeoutvalue = kDefaultSessionMinutes;
    if (!is_numeric(timeoutvalue)) timeoutvalue = kDefaultSessionMinutes;
    r.Close();
    settings = Variant::nothing();
    // A stored value beyond the range of minutes a session can hold is held to it.
    session_object().set_timeout(static_cast<int>(
        std::clamp<int64_t>(timeoutvalue.to_integer(), 0, std::numeric_limits<int>::max())));

    if (script_equal(session_object().item("UserName"), "")) {
      Response& out = response_object();
      out.write(" <script language=javascript>\r\n");
      out.write("\t\ttop.location.href = \"");
      out.write(application_object().item("TavrinOAURL").str());
      out.write("login.asp\";\r\n");
      out.write("\t</script>\r\n");
      out.write("\t");
    }
  });
}

void Page::closedb() {
  report_and_leave(__func__, [&] {
    if (conn.has_object()) {
      conn.as<Connection>().Close();
      conn = Variant::nothing();
    }
  });
}

}  // namespace oapx1
