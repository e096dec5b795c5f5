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
    /* timegm would quietly move "2024-13-01" into the next year; a field
     * out of its range means the document is damaged, not a later time. */
    if (when.tm_mon < 1 || when.tm_mon > 12 || when.tm_mday < 1 || when.tm_mday > 31 ||
        when.tm_hour < 0 || when.tm_hour > 23 || when.tm_min < 0 || when.tm_min > 59 ||
        when.tm_sec < 0 || when.tm_sec > 60 || offset_hours < -23 || offset_hours > 23 ||
        offset_minutes < 0 || offset_minutes > 59)
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
