// A run-time failure of the scripting platform: number, message and line, as the
// platform's error state carries them. Every stand-in and every page method raises
// failures of this one type; the failure handler of the page class catches them.
#ifndef OAPX1_PLATFORM_SCRIPT_SCRIPT_ERROR_H_
#define OAPX1_PLATFORM_SCRIPT_SCRIPT_ERROR_H_

#include <cstdint>
#include <stdexcept>
#include <string>

namespace oapx1 {

// Error numbers the stand-ins raise, with the numbers their originals carry.
namespace err {
inline constexpr int32_t kInvalidCall = 5;          // invalid procedure call or argument
inline constexpr int32_t kOutOfMemory = 7;          // out of memory
inline constexpr int32_t kOverflow = 6;             // overflow
inline constexpr int32_t kSubscriptOutOfRange = 9;  // subscript out of range
inline constexpr int32_t kDivisionByZero = 11;      // division by zero
inline constexpr int32_t kTypeMismatch = 13;        // type mismatch
inline constexpr int32_t kInternal = 51;            // internal error
inline constexpr int32_t kPathNotFound = 76;        // path not found
inline constexpr int32_t kFileNotFound = 53;        // file not found
inline constexpr int32_t kPermissionDenied = 70;    // permission denied
inline constexpr int32_t kFileExists = 58;          // file already exists
inline constexpr int32_t kObjectNotSet = 91;        // object variable not set
inline constexpr int32_t kInvalidUseOfNull = 94;    // invalid use of Null
inline constexpr int32_t kObjectRequired = 424;     // object required
inline constexpr int32_t kCannotCreate = 429;       // component can't create object
inline constexpr int32_t kNoMember = 438;           // object doesn't support property or method
inline constexpr int32_t kNoCurrentRecord = 3021;   // BOF or EOF
inline constexpr int32_t kItemNotFound = 3265;      // field name or ordinal not found
inline constexpr int32_t kObjectClosed = 3704;      // operation not allowed on a closed object
inline constexpr int32_t kObjectOpen = 3705;        // operation not allowed on an open object
inline constexpr int32_t kProviderFailure = -2147467259;   // unspecified provider failure
inline constexpr int32_t kSyntaxError = -2147217900;       // invalid SQL statement
inline constexpr int32_t kInvalidObjectName = -2147217865; // missing table or view
inline constexpr int32_t kConstraint = -2147217873;        // constraint violated
inline constexpr int32_t kBadFileName = 52;         // bad file name
inline constexpr int32_t kDeviceIo = 57;            // device I/O error
inline constexpr int32_t kDiskFull = 61;            // disk full
inline constexpr int32_t kPathFileAccess = 75;      // path/file access error
inline constexpr int32_t kNotUpdatable = 3251;      // the recordset cannot be updated
inline constexpr int32_t kRowNotFound = -2147217864; // the row to update was not found
inline constexpr int32_t kRegExpWorkLimit = 28;     // out of stack space: matching gave up
inline constexpr int32_t kRegExpSyntax = 5017;      // syntax error in regular expression
inline constexpr int32_t kMailConnect = -2147220973;       // mail server not reached
inline constexpr int32_t kMailSend = -2147220975;          // mail not accepted by the server
// Reserved: passes up through every handler unreported and ends the running
// page initialiser quietly.
inline constexpr int32_t kReserved = -19691969;
}  // namespace err

class ScriptError : public std::runtime_error {
 public:
  ScriptError(int32_t number, std::string message, int32_t line = 0)
      : std::runtime_error(message), number_(number), message_(std::move(message)), line_(line) {}

  int32_t number() const noexcept { return number_; }
  const std::string& message() const noexcept { return message_; }
  int32_t line() const noexcept { return line_; }

 private:
  int32_t number_;
  std::string message_;
  int32_t line_;
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_SCRIPT_SCRIPT_ERROR_H_
