/*
 * The paging loop every listing shares: fetch a page, hand it on, follow the continuation
 * marker until the service sends none.
 */
#ifndef OSTREL_AZ_PAGES_H
#define OSTREL_AZ_PAGES_H

#include <string>
#include <unordered_set>

#include "az/status.h"

namespace ostrel_az
{

// `fetch(marker)` returns the future of one page's outcome; `each(page)` sees every page that
// arrived. A failure, or a marker already followed in this listing, ends the loop with
// `result` set.
template <typename Fetch, typename Each>
void for_each_page(az_result &result, Fetch &&fetch, Each &&each)
{
    std::string marker;
    std::unordered_set<std::string> followed;
    do {
        auto outcome = fetch(marker).get();
        if (!result.take_outcome(outcome)) {
            return;
        }
        const auto &page = outcome.response();
        each(page);
        // Markers that come round again (A, B, A, ...) would page forever.
        if (!page.next_marker.empty() && !followed.insert(page.next_marker).second) {
            result.set_local(AZ_XmlParseFailure, "listing repeated a continuation marker");
            return;
        }
        marker = page.next_marker;
    } while (!marker.empty());
}

} // namespace ostrel_az

#endif
