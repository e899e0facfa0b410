// Stored passwords: salted, deliberately slow hashes (argon2id) in the
// self-describing text form "$argon2id$v=19$m=...,t=...,p=...$SALT$HASH",
// which carries its own salt and cost settings, so a hash made with older
// settings still verifies after they are raised.
#ifndef OAPX1_PLATFORM_CRYPTO_PASSWORD_HASH_H_
#define OAPX1_PLATFORM_CRYPTO_PASSWORD_HASH_H_

#include <string>
#include <string_view>

namespace oapx1 {

// A new hash of `password` under a fresh random salt, at the current cost
// settings (about 64 MiB of memory and a tenth of a second). Two calls give
// two different texts. Fails with std::runtime_error when the memory the
// hash needs cannot be had.
std::string hash_password(std::string_view password);

// True when `stored` has the form hash_password writes; anything else in a
// password column (an empty value, a plain-text password of an older
// database) is false.
bool is_password_hash(std::string_view stored);

// True when `stored` is a hash made of exactly `password`. False for a wrong
// password, for a value that is no hash and for a damaged hash. Never throws.
bool verify_password(std::string_view stored, std::string_view password);

// True when the hash `stored` was made with other cost settings than
// hash_password uses now, so a sign-in that verified it should store a new
// one. False for a value that is no hash.
bool password_hash_outdated(std::string_view stored);

// A short mark of the value an account's password column holds (`stored`:
// a hash, or an older plain-text password): 32 hex digits, equal for equal
// values and different, all but surely, for different ones. A session keeps
// the mark of its sign-in, so that a password changed since, by whatever
// means, is seen; the mark tells nothing of use about the password (one way,
// and taken of the salted hash wherever the password is hashed). Fails with
// std::runtime_error when the hashing library cannot start.
std::string password_seal(std::string_view stored);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_CRYPTO_PASSWORD_HASH_H_
