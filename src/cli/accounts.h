// The application's accounts as an operator manages them from the command
// line: the rows of its own directory tables that signing in, the user
// lookups and the permission checks read (KX_UserInfor, KX_Department,
// OA_Functions, OA_SysPower, OA_Roles), on either engine.
#ifndef OAPX1_CLI_ACCOUNTS_H_
#define OAPX1_CLI_ACCOUNTS_H_

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "editing/node_save.h"

namespace oapx1 {

class Connection;

// A change refused for what the database holds (an unknown department or
// account, a name taken, ...); the message names the cause.
struct AccountError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One account as `user list` shows it.
struct AccountRow {
  std::string login;       // UserName
  std::string name;        // TureName
  std::string department;  // the department's name, else its id, else empty
  bool active = true;      // AccountState is not '0'
  // "hashed", "plain text" (an older database's password, not yet signed in
  // with) or "none" (no password: the account cannot sign in).
  std::string password;
  std::vector<std::string> grants;  // function codes granted to the login directly
  // The function codes the account holds through its roles (OA_Roles,
  // OA_FunctionRole), each as "CODE (role name)", in role and function order.
  std::vector<std::string> role_grants;
};

class Accounts {
 public:
  // Opens the database at `url`; fails as Connection::Open does.
  explicit Accounts(const std::string& url);
  ~Accounts();
  Accounts(const Accounts&) = delete;
  Accounts& operator=(const Accounts&) = delete;

  // True when the login is a name an account may have: 1 to 50 characters,
  // none of them a space, a control character or one of ; , * ' " < > & %
  // (the separators of the lists that hold login names).
  static bool valid_login(const std::string& login);

  // Adds an active account with the password stored hashed, last in the
  // display order. Fails with AccountError for an invalid login, a login
  // taken (in any letter case) or an unknown department.
  void add(const std::string& login, const std::string& name, std::optional<long long> department,
           const std::string& password);
  // Stores a new hash of `password`. AccountError for an unknown account.
  void set_password(const std::string& login, const std::string& password);
  // Enables or disables an account (AccountState '1' / '0'); a disabled one
  // cannot sign in. AccountError for an unknown account.
  void set_active(const std::string& login, bool active);
  // Grants the function `code` to the account directly (OA_SysPower). False
  // when it held that grant already. AccountError for an unknown account or
  // a code OA_Functions does not know.
  bool grant(const std::string& login, const std::string& code);
  // Takes the direct grant of `code` from the account. False when it held
  // none. AccountError for an unknown account.
  bool revoke(const std::string& login, const std::string& code);
  // True when one of the account's roles (OA_Roles, OA_FunctionRole) grants
  // `code`, which revoking the direct grant leaves in place.
  bool granted_by_role(const std::string& login, const std::string& code);
  // Adds the editing permission to the functions when it is missing, as
  // OA_Functions of a fresh database holds nothing.
  void ensure_editing_function();
  // Every account in display order, with its direct grants and those of its roles.
  std::vector<AccountRow> list();
  // The logins whose stored password is plain text, in display order.
  std::vector<std::string> plain_text_passwords();

 private:
  // The account's login as stored and its key; AccountError when none.
  std::pair<std::string, std::string> find(const std::string& login);

  std::shared_ptr<Connection> conn_;  // open for the object's lifetime
};

}  // namespace oapx1

#endif  // OAPX1_CLI_ACCOUNTS_H_
