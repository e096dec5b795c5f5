/*
 * The expiry timestamp of a credential document, shared by the connector and
 * by programs that show a credential to a user, so both read it alike.
 */
#ifndef OSTREL_TOKEN_TIME_H
#define OSTREL_TOKEN_TIME_H

#include <stdbool.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads "YYYY-MM-DDTHH:MM:SS.ffffff+HH:MM" (the fraction is required and
 * ignored) as UTC seconds; false when the text has another form. */
bool ostrel_i_azure_token_time(const char *text, time_t *seconds);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_TOKEN_TIME_H */
