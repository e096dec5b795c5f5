/*
 * The expiry timestamp of a credential document.
 */
#include "connector/token_time.h"

#include <stdio.h>
#include <string.h>

bool ostrel_i_azure_token_time(const char *text, time_t *seconds)
{
    struct tm when;
    int offset_hours = 0;
    int offset_minutes = 0;

    memset(&when, 0, sizeof(when));
    int count = sscanf(text, "%4d-%2d-%2dT%2d:%2d:%2d.%*6d%3d:%2d", &when.tm_year, &when.tm_mon,
                       &when.tm_mday, &when.tm_hour, &when.tm_min, &when.tm_sec, &offset_hours,
                       &offset_minutes);
    if (count != 8)
        return false;

    when.tm_mon -= 1;
    when.tm_year -= 1900;
    /* The sign belongs to the whole offset: "-00:30" is thirty minutes behind
     * UTC although its hour field scans as zero. */
    const char *time_part = strchr(text, 'T');
    const char *sign = time_part != NULL ? strpbrk(time_part, "+-") : NULL;
    int direction = (sign != NULL && *sign == '-') ? -1 : 1;
    when.tm_hour -= offset_hours;
    when.tm_min -= direction * offset_minutes;
    *seconds = timegm(&when);
    return true;
}
