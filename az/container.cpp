#include <string>

#include "az/call.h"
#include "az/client.h"
#include "az/pages.h"
#include "az/properties.h"

using ostrel_az::az_result;
using ostrel_az::require;
using ostrel_az::require_name;

constexpr int ostrel_l_az_containers_per_page = 5000;

void AZ_create_container(AZ_client *client, const char *container, AZ_complete_callback complete,
                         void *arg)
{
    ostrel_az::run_operation(complete, arg, [&](az_result &result) {
        require(client, "client");
        require_name(container, "container");
        auto outcome = client->blob->create_container(container).get();
        result.take_outcome(outcome);
    });
}

void AZ_delete_container(AZ_client *client, const char *container, AZ_complete_callback complete,
                         void *arg)
{
    ostrel_az::run_operation(complete, arg, [&](az_result &result) {
        require(client, "client");
        require_name(container, "container");
        auto outcome = client->blob->delete_container(container).get();
        result.take_outcome(outcome);
    });
}

void AZ_head_container(AZ_client *client, const char *container, AZ_properties_callback properties,
                       AZ_complete_callback complete, void *arg)
{
    ostrel_az::run_operation(complete, arg, [&](az_result &result) {
        require(client, "client");
        require_name(container, "container");
        auto outcome = client->blob->get_container_properties(container).get();
        if (!result.take_outcome(outcome)) {
            return;
        }
        if (outcome.response().valid) {
            ostrel_az::properties_record(container).report(properties, arg);
        }
    });
}

void AZ_list_containers(AZ_client *client, AZ_properties_callback properties,
                        AZ_complete_callback complete, void *arg)
{
    ostrel_az::run_operation(complete, arg, [&](az_result &result) {
        require(client, "client");
        ostrel_az::for_each_page(
            result,
            [&](const std::string &marker) {
                return client->blob->list_containers_segmented(
                    "", marker, ostrel_l_az_containers_per_page, true);
            },
            [&](const auto &page) {
                for (const auto &item : page.containers) {
                    ostrel_az::properties_record(item.name).report(properties, arg);
                }
            });
    });
}
