#include "platform/components/components.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/call/call_context.h"
#include "platform/data/connection.h"
#include "platform/files/file_system.h"
#include "platform/mail/mail_components.h"
#include "platform/web/memory_intrinsics.h"
#include "platform/data/recordset.h"
#include "platform/script/regexp.h"
#include "platform/files/type_lib.h"
#include "platform/process/process.h"

namespace oapx1 {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, ComponentFactory, AsciiNoCaseLess> factories;

  Registry() {
    factories["ADODB.Connection"] = [] { return std::make_shared<Connection>(); };
    factories["ADODB.Recordset"] = [] { return std::make_shared<Recordset>(); };
    factories["TavrinKxt.kxt2008"] = [] { return std::make_shared<ConnectStringProvider>(); };
    factories["Scripting.FileSystemObject"] = [] { return std::make_shared<FileSystemObject>(); };
    factories["Scriptlet.TypeLib"] = [] { return std::make_shared<TypeLib>(); };
    factories["VBScript.RegExp"] = [] { return std::make_shared<RegExp>(); };
    factories["MyEmail.sendemail"] = [] { return std::make_shared<MyEmailSender>(); };
    factories["JMail.Message"] = [] { return std::make_shared<JMailMessage>(); };
    factories["JMail.SMTPMail"] = [] { return std::make_shared<JMailSMTPMail>(); };
    factories["CDONTS.NewMail"] = [] { return std::make_shared<CdontsNewMail>(); };
    factories["ASPMAIL.ASPMailCtrl.1"] = [] { return std::make_shared<AspMailCtrl>(); };
  }
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

void register_component(std::string_view class_id, ComponentFactory factory) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  r.factories.insert_or_assign(std::string(class_id), std::move(factory));
}

void unregister_component(std::string_view class_id) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  if (auto it = r.factories.find(class_id); it != r.factories.end()) r.factories.erase(it);
}

namespace {

// Whether every answer of objects of `class_id` follows from what the caller
// gives them and from data reads that a call watch sees. Any other object
// (files, mail, unique ids, a registered one) may answer differently next time.
bool repeatable_component(std::string_view class_id) {
  for (std::string_view id : {"ADODB.Connection", "ADODB.Recordset", "TavrinKxt.kxt2008", "VBScript.RegExp"}) {
    if (ascii_iequals(class_id, id)) return true;
  }
  return false;
}

}  // namespace

Variant CreateObject(std::string_view class_id) {
  if (!repeatable_component(class_id)) CallWatch::unrepeatable();
  Registry& r = registry();
  ComponentFactory factory;
  {
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.factories.find(class_id);
    if (it != r.factories.end()) factory = it->second;
  }
  if (!factory) throw ScriptError(err::kCannotCreate, "ActiveX component can't create object");
  return Variant(factory());
}

std::string ConnectStringProvider::ConnectString() const {
  return resolve_database(process_settings()->database);
}

void set_default_database(std::string url) {
  update_process_settings([&url](ProcessSettings& s) { s.database = std::move(url); });
}

}  // namespace oapx1
