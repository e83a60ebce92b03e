// SPDX-License-Identifier: GPL-3.0-or-later
#include "moviletta/server/curl_http_client.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "moviletta/common/error.h"
#include "moviletta/server/query_url.h"
#include "tests/fixtures/control_harness.h"
#include "tests/fixtures/greeting_server.h"

namespace moviletta {
namespace {

using testing::GreetingServerFixture;

class CurlHttpClientTest : public ::testing::Test {
 protected:
  Error FailureOf(const std::string& url) {
    try {
      factory_.Create()->Get(url, {});
    } catch (const Error& e) {
      return e;
    }
    ADD_FAILURE() << "GET " << url << " did not fail";
    return Error(0);
  }

  GreetingServerFixture server_;
  CurlHttpClientFactory factory_{testing::TestHttpOptions()};
};

TEST_F(CurlHttpClientTest, ReturnsTheBodyWhateverTheStatusAndSendsOnlyTheGivenHeaders) {
  server_.SetRegisterAnswer("welcome");
  auto client = factory_.Create();
  const HttpResponse ok =
      client->Get(server_.address() + "/register.asp", {{"Content-type", "text"}});
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.body, "welcome");
  const HttpResponse missing = client->Get(server_.address() + "/nothing-here", {});
  EXPECT_EQ(missing.status, 404);

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].headers.find("Content-type")->second, "text");
  EXPECT_FALSE(requests[1].HasHeader("Content-type"));
  EXPECT_EQ(requests[0].remote_port, requests[1].remote_port) << "one client, one connection";
}

TEST_F(CurlHttpClientTest, EncodedQueryValuesArriveIntact) {
  const std::string awkward = "a&b=c?d e\r\nf/%+\xc3\xa9";
  const std::string url =
      QueryUrl(server_.address() + "/register.asp").Add("k1", awkward).Add("k2", "").str();
  factory_.Create()->Get(url, {});
  const auto request = server_.Requests().at(0);
  EXPECT_EQ(request.QueryKeys(), (std::vector<std::string>{"k1", "k2"}));
  EXPECT_EQ(request.Query("k1"), awkward);
  EXPECT_EQ(request.Query("k2"), "");
}

TEST_F(CurlHttpClientTest, MisbehavingServersFailTheRequest) {
  const Error refused = FailureOf(testing::UnusedLocalAddress() + "/x");
  EXPECT_EQ(refused.number(), err::kHttpRequestFailed);
  EXPECT_EQ(refused.os_error(), ECONNREFUSED);

  EXPECT_EQ(FailureOf(server_.address() + "/slow").number(), err::kHttpTimeout);
  EXPECT_EQ(FailureOf(server_.address() + "/drop").number(), err::kHttpRequestFailed);

  const Error huge = FailureOf(server_.address() + "/huge");
  EXPECT_EQ(huge.number(), err::kHttpBodyTooLarge);
  EXPECT_NE(huge.description().find("1048576"), std::string::npos) << huge.description();

  EXPECT_EQ(FailureOf("ftp://127.0.0.1/x").number(), err::kHttpRequestFailed);
  EXPECT_EQ(FailureOf("?sPassword=x").number(), err::kHttpRequestFailed);
}

TEST_F(CurlHttpClientTest, ASilentServerFailsByTheLowSpeedLimitNotTheTotalTimeout) {
  HttpOptions options = testing::TestHttpOptions();
  options.total_timeout = std::chrono::seconds(30);
  options.low_speed_time = std::chrono::seconds(1);
  server_.slow_delay = std::chrono::seconds(4);
  const auto start = std::chrono::steady_clock::now();
  try {
    CurlHttpClientFactory(options).Create()->Get(server_.address() + "/slow", {});
    ADD_FAILURE() << "a silent server answered";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kHttpTimeout) << e.description();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace moviletta
