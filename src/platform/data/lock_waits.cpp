#include "platform/data/lock_waits.h"

#include "platform/script/script_error.h"

namespace oapx1 {
namespace {

thread_local LockWaitsRefused* t_scope = nullptr;

}  // namespace

LockWaitsRefused::LockWaitsRefused() : outer_(t_scope) { t_scope = this; }

LockWaitsRefused::~LockWaitsRefused() { t_scope = outer_; }

bool LockWaitsRefused::refuse_wait() {
  LockWaitsRefused* scope = t_scope;
  if (!scope || scope->wrote_) return false;
  scope->refused_ = true;
  return true;
}

void LockWaitsRefused::check() {
  if (t_scope && t_scope->refused_) throw ScriptError(err::kProviderFailure, "database is locked");
}

void LockWaitsRefused::wrote() {
  if (t_scope) t_scope->wrote_ = true;
}

}  // namespace oapx1
