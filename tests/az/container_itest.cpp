// Container operations and the client's life against the emulator; paging and failures
// the emulator cannot produce come from the fault proxy in front of it.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "itest_support.h"

using namespace az_itest;

namespace
{

class container_itest : public ::testing::Test
{
  protected:
    ostrel_test::emulator emu = ostrel_test::emulator_from_env();
};

std::set<std::string> names_of(const recorder &r)
{
    std::set<std::string> names;
    for (const auto &e : r.entries) {
        names.insert(e.name);
    }
    return names;
}

TEST_F(container_itest, create_head_list_delete)
{
    auto client = make_client(emu);
    std::string name = ostrel_test::unique_name("cont");
    create_container(client.get(), name);

    recorder again;
    AZ_create_container(client.get(), name.c_str(), record_complete, &again);
    EXPECT_EQ(again.completions, 1);
    EXPECT_EQ(again.status, AZ_ErrorContainerAlreadyExists);
    EXPECT_EQ(again.code, "409");
    EXPECT_EQ(again.code_name, "ContainerAlreadyExists");
    EXPECT_TRUE(again.has_message);

    recorder head;
    AZ_head_container(client.get(), name.c_str(), record_properties, record_complete, &head);
    EXPECT_EQ(head.status, AZ_OK);
    ASSERT_EQ(head.entries.size(), 1u);
    EXPECT_EQ(head.entries[0].name, name);
    EXPECT_EQ(head.entries[0].size, 0u);
    EXPECT_EQ(head.entries[0].last_modified, -1);
    EXPECT_FALSE(head.entries[0].has_md5);
    EXPECT_TRUE(head.entries[0].is_directory);
    EXPECT_TRUE(head.entries[0].metadata.empty());

    recorder list;
    AZ_list_containers(client.get(), record_properties, record_complete, &list);
    EXPECT_EQ(list.status, AZ_OK);
    EXPECT_EQ(list.completions, 1);
    EXPECT_EQ(names_of(list).count(name), 1u);
    for (const auto &e : list.entries) {
        EXPECT_TRUE(e.is_directory);
        EXPECT_EQ(e.last_modified, -1);
    }

    recorder del;
    AZ_delete_container(client.get(), name.c_str(), record_complete, &del);
    EXPECT_EQ(del.status, AZ_OK);

    // A HEAD answer has no body: only the HTTP status is known.
    recorder missing;
    AZ_head_container(client.get(), name.c_str(), record_properties, record_complete, &missing);
    EXPECT_EQ(missing.status, AZ_HttpErrorNotFound);
    EXPECT_EQ(missing.code, "404");
    EXPECT_FALSE(missing.has_code_name);
    EXPECT_FALSE(missing.has_message);
    EXPECT_TRUE(missing.entries.empty());

    recorder del_missing;
    AZ_delete_container(client.get(), name.c_str(), record_complete, &del_missing);
    EXPECT_EQ(del_missing.status, AZ_ErrorContainerNotFound);
    EXPECT_EQ(del_missing.code_name, "ContainerNotFound");
}

// The emulator's continuation marker is the last name listed; a crafted first page with a
// marker leads to a real second page listing the names after it.
TEST_F(container_itest, listing_follows_the_continuation_marker)
{
    ostrel_test::fault_proxy proxy(emu);
    auto client = make_client(proxy.endpoint());
    std::string base = ostrel_test::unique_name("page");
    std::vector<std::string> names = {base + "-a", base + "-b", base + "-c"};
    for (const auto &n : names) {
        create_container(client.get(), n);
    }
    proxy.add_rule(R"({"method":"GET","path":"comp=list","times":1,"replace_body":)"
                   R"("<?xml version=\"1.0\" encoding=\"utf-8\"?><EnumerationResults>)"
                   R"(<Containers><Container><Name>crafted-first</Name><Properties/>)"
                   R"(</Container></Containers><NextMarker>)" +
                   names[0] + R"(</NextMarker></EnumerationResults>"})");
    proxy.clear_log();

    recorder list;
    AZ_list_containers(client.get(), record_properties, record_complete, &list);
    EXPECT_EQ(list.status, AZ_OK) << list.message;
    auto listed = names_of(list);
    EXPECT_EQ(listed.count("crafted-first"), 1u);
    EXPECT_EQ(listed.count(names[0]), 0u);
    EXPECT_EQ(listed.count(names[1]), 1u);
    EXPECT_EQ(listed.count(names[2]), 1u);
    EXPECT_EQ(list.entries[0].name, "crafted-first");

    auto pages = requests_matching(proxy, "GET", "comp=list");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].target.find("marker="), std::string::npos);
    EXPECT_NE(pages[0].target.find("maxresults=5000"), std::string::npos);
    EXPECT_NE(pages[1].target.find("marker=" + names[0]), std::string::npos);
}

TEST_F(container_itest, failure_on_a_later_page_ends_the_listing)
{
    ostrel_test::fault_proxy proxy(emu);
    auto client = make_client(proxy.endpoint());
    proxy.add_rule(
        R"({"method":"GET","path":"comp=list","times":1,"replace_body":)"
        R"("<EnumerationResults><Containers><Container><Name>first-page</Name>)"
        R"(</Container></Containers><NextMarker>zzz</NextMarker></EnumerationResults>"})");
    proxy.add_rule(R"({"method":"GET","path":"marker=zzz","times":20,"respond":{"status":500,)"
                   R"("headers":{"Content-Type":"application/xml"},"body":)"
                   R"("<?xml version=\"1.0\" encoding=\"utf-8\"?><Error><Code>InternalError</Code>)"
                   R"(<Message>The server encountered an internal error.</Message></Error>"}})");
    recorder list;
    AZ_list_containers(client.get(), record_properties, record_complete, &list);
    EXPECT_EQ(list.completions, 1);
    EXPECT_EQ(list.status, 134u); // ErrorInternalError
    EXPECT_EQ(list.code, "500");
    EXPECT_EQ(list.message, "The server encountered an internal error.");
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].name, "first-page");
}

// An expired token is refused until replaced; the replacement signs the next request.
TEST_F(container_itest, expired_token_is_refused_until_replaced)
{
    ostrel_test::fault_proxy proxy(emu);
    AZ_client_options options = {emu.ca_file.c_str()};
    AZ_client *raw = nullptr;
    ASSERT_EQ(AZ_init_client_with_options(proxy.endpoint().account_text.c_str(),
                                          ostrel_test::mint_token(-3600).c_str(), false, nullptr,
                                          nullptr, &options, &raw),
              AZ_OK);
    client_ptr client(raw);
    std::string name = ostrel_test::unique_name("tok");
    recorder refused;
    AZ_create_container(client.get(), name.c_str(), record_complete, &refused);
    EXPECT_NE(refused.status, AZ_OK);
    EXPECT_EQ(refused.message.find("Bearer"), std::string::npos);

    std::string fresh = ostrel_test::mint_token(7200);
    EXPECT_EQ(AZ_update_token(client.get(), fresh.c_str()), AZ_OK);
    EXPECT_EQ(AZ_update_token(client.get(), fresh.c_str()), AZ_OK);
    proxy.clear_log();
    create_container(client.get(), name);
    auto sent = proxy.requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer " + fresh);
}

// Two uploads of one session may refresh the token at the same moment; meant
// for the thread-sanitizer build.
TEST_F(container_itest, concurrent_token_updates_leave_a_working_client)
{
    auto client = make_client(emu);
    std::vector<std::string> tokens;
    for (int i = 0; i < 8; i++)
        tokens.push_back(ostrel_test::mint_token(3600 + i));
    auto update = [&](int start) {
        for (int round = 0; round < 200; round++)
            AZ_update_token(client.get(), tokens[(start + round) % 8].c_str());
    };
    std::thread a(update, 0), b(update, 3);
    a.join();
    b.join();
    create_container(client.get(), ostrel_test::unique_name("conc"));
}

TEST_F(container_itest, ca_file_option_decides_whom_to_trust)
{
    AZ_client *raw = nullptr;
    // Without our CA the emulator's certificate cannot be verified.
    ASSERT_EQ(AZ_init_client(emu.account_text.c_str(), ostrel_test::mint_token().c_str(), false,
                             nullptr, nullptr, &raw),
              AZ_OK);
    client_ptr untrusted(raw);
    recorder r;
    AZ_create_container(untrusted.get(), ostrel_test::unique_name("ca").c_str(), record_complete,
                        &r);
    EXPECT_EQ(r.status, AZ_ErrorUnknown);
    EXPECT_TRUE(r.code == "60" || r.code == "77") << r.code << " " << r.code_name;
    EXPECT_FALSE(r.code_name.empty());

    auto trusted = make_client(emu);
    create_container(trusted.get(), ostrel_test::unique_name("ca"));
}

TEST_F(container_itest, caller_errors_end_in_order)
{
    AZ_client *raw = reinterpret_cast<AZ_client *>(0x1);
    EXPECT_NE(AZ_init_client(emu.account_text.c_str(), nullptr, false, nullptr, nullptr, &raw),
              AZ_OK);
    EXPECT_EQ(raw, nullptr);
    EXPECT_NE(AZ_init_client(nullptr, "token", false, nullptr, nullptr, &raw), AZ_OK);
    EXPECT_NE(AZ_update_token(nullptr, "token"), AZ_OK);

    auto client = make_client(emu);
    recorder r;
    AZ_create_container(client.get(), nullptr, record_complete, &r);
    EXPECT_EQ(r.completions, 1);
    EXPECT_EQ(r.status, AZ_InternalError);
    EXPECT_TRUE(r.has_message);
    EXPECT_NE(AZ_update_token(client.get(), nullptr), AZ_OK);
}

TEST(az_lifecycle, account_forms_and_global_entries)
{
    EXPECT_EQ(AZ_initialize(), AZ_OK);
    for (const char *account : {"name", "name:", "name:127.0.0.1:1/x"}) {
        AZ_client *raw = nullptr;
        EXPECT_EQ(AZ_init_client(account, "token", true, nullptr, nullptr, &raw), AZ_OK) << account;
        EXPECT_NE(raw, nullptr);
        AZ_destroy_client(raw);
    }
    // A name the service would not give out could aim the token at another host.
    for (const char *account : {":127.0.0.1:1/x", "127.0.0.1/", "127.0.0.1#", "name:h/../x"}) {
        AZ_client *raw = nullptr;
        EXPECT_EQ(AZ_init_client(account, "token", true, nullptr, nullptr, &raw),
                  AZ_FailedToInitializeRequest)
            << account;
        EXPECT_EQ(raw, nullptr);
    }
    AZ_deinitialize();
}

} // namespace
