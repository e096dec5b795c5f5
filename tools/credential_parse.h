/*
 * Turning what a token source prints into the credential document the
 * plug-in reads ({"access_token", "token_expiry", "sub"}). Pure functions:
 * text in, result out; no clock, no I/O (the local time zone is read for the
 * Azure command-line tool's "expiresOn" only). Error texts never quote the
 * input, which holds a token.
 */
#ifndef OSTREL_TOOLS_CREDENTIAL_PARSE_H
#define OSTREL_TOOLS_CREDENTIAL_PARSE_H

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel_cli
{

struct credential_result {
    std::optional<std::string> document; /* set on success */
    std::string error;                   /* set on failure */
};

/* Accepts, as an object:
 * - the credential document itself (it has "token_expiry"): handed on as it is;
 * - `az account get-access-token` output: "accessToken" with "expires_on"
 *   (seconds since the epoch) or, in older versions, "expiresOn" (local time);
 * - a managed-identity answer: "access_token" with "expires_on" (seconds, as
 *   text or number).
 * Without a readable expiry the token's own "exp" claim is used; "sub" comes
 * from the token's claims ("unknown" when it has none). */
credential_result credential_document(const std::string &text);

/* "YYYY-MM-DD HH:MM:SS" with an optional fraction, in local time. */
std::optional<int64_t> parse_local_time(const std::string &text);

/* Seconds since the epoch as decimal digits only, within what the
 * credential timestamp can hold. */
std::optional<int64_t> parse_epoch_seconds(const std::string &text);

/* A claim of a JWT's payload as text (numbers in decimal); nullopt when the
 * token is not a JWT or lacks the claim. */
std::optional<std::string> jwt_claim(const std::string &token, const char *name);

/* The plug-in's timestamp form: "YYYY-MM-DDTHH:MM:SS.000000+00:00". */
std::string credential_timestamp(int64_t seconds);

} // namespace ostrel_cli

#endif
