// The launcher's job: JSON as pages send it, and the origin rules that keep a
// link from another site from driving the object.

#include <gtest/gtest.h>

#include "host/Job.h"
#include "host/Json.h"

namespace nib::host {
namespace {

TEST(Json, ReadsWhatPagesSendAndWritesItBack) {
  JsonValue job = ParseJson(
      "\xEF\xBB\xBF {\"settings\": [[\"SetUserName\", \"\\u5f20\\u4e09\"], [\"SetFileSizeLmt\", 5000.5], "
      "[\"SetShowTrack\", true]], \"open\": [\"1\", \"\"], \"x\": null, \"e\": \"\\ud83d\\ude00\\n\\\"\"}");
  ASSERT_EQ(job.kind(), JsonValue::Kind::kObject);
  const JsonValue& settings = *job.Find("settings");
  EXPECT_EQ(settings.Items()[0].Items()[1].AsString(), "\xE5\xBC\xA0\xE4\xB8\x89") << "张三 in UTF-8";
  EXPECT_EQ(settings.Items()[1].Items()[1].AsNumber(), 5000.5);
  EXPECT_TRUE(settings.Items()[2].Items()[1].AsBool());
  EXPECT_EQ(job.Find("x")->kind(), JsonValue::Kind::kNull);
  EXPECT_EQ(job.Find("e")->AsString(), "\xF0\x9F\x98\x80\n\"") << "a surrogate pair";
  EXPECT_EQ(job.Find("missing"), nullptr);

  JsonValue event = JsonValue::Object({{"event", JsonValue::Array({JsonValue::String("quit"), JsonValue::String("a\"b\\"),
                                                                   JsonValue(), JsonValue::Number(12)})}});
  EXPECT_EQ(WriteJson(event), "{\"event\":[\"quit\",\"a\\\"b\\\\\",null,12]}");
  EXPECT_EQ(WriteJson(ParseJson(WriteJson(job))), WriteJson(job)) << "what is written reads back the same";

  for (const char* bad : {"", "{", "{\"a\" 1}", "[1,]", "\"open", "\"\\x\"", "\"\\ud800\"", "01x", "{} {}", "tru",
                          "[\"a\nb\"]", "1e999"})
    EXPECT_THROW(ParseJson(bad), JsonError) << bad;
  std::string deep(200, '[');
  EXPECT_THROW(ParseJson(deep + std::string(200, ']')), JsonError) << "nesting is bounded, not recursed without end";
}

TEST(LauncherJob, LinksOriginsAndShapes) {
  EXPECT_EQ(JobAddressOf("nibword:https://oa.example/nibjob?id=42&token=x"), "https://oa.example/nibjob?id=42&token=x");
  EXPECT_EQ(JobAddressOf("NIBWORD:http://oa.example:8080/j"), "http://oa.example:8080/j");
  for (const char* bad : {"https://oa.example/j", "nibword:", "nibword:file:///c:/secret.doc", "nibword:ftp://a/b",
                          "nibword:\\\\server\\share\\job"})
    EXPECT_THROW(JobAddressOf(bad), JobError) << bad;

  EXPECT_EQ(OriginOf("HTTPS://OA.Example:443/path?q"), "https://oa.example");
  EXPECT_EQ(OriginOf("http://oa.example:80"), "http://oa.example");
  EXPECT_EQ(OriginOf("http://127.0.0.1:8080/x"), "http://127.0.0.1:8080");
  EXPECT_EQ(OriginOf("http://evil@oa.example/"), "") << "user information could hide the real host";
  EXPECT_EQ(OriginOf("http://oa.example:x/"), "");
  EXPECT_EQ(OriginOf("file:///c:/x"), "");

  std::vector<std::string> allowed{"https://oa.example/", "http://127.0.0.1:8080"};
  EXPECT_TRUE(IsOnOriginList("https://oa.example/doc?id=1", allowed));
  EXPECT_FALSE(IsOnOriginList("https://oa.example.evil.net/doc", allowed));
  EXPECT_FALSE(IsOnOriginList("http://oa.example/doc", allowed)) << "the scheme is part of the origin";
  EXPECT_FALSE(IsOnOriginList("http://127.0.0.1:8081/", allowed)) << "and so is the port";
  EXPECT_FALSE(IsOnOriginList("https://oa.example/", {})) << "no list allows nothing";

  JsonValue job = ParseJson(
      "{\"settings\": [[\"SetDownURL\", \"https://oa.example/doc\"], [\"setSucceedPrefix\", \"OK:\"], "
      "[\"SetXMLCont\", 1, \"<r xmlns='http://www.w3.org/1999/xhtml'/>\"]], \"open\": [\"1\", \"\"], "
      "\"events\": \"https://oa.example/ev\"}");
  Job parsed = ParseJob(job);
  EXPECT_EQ(parsed.procID, "1");
  EXPECT_FALSE(parsed.openHt);
  ASSERT_EQ(parsed.settings.size(), 3u);
  EXPECT_EQ(parsed.settings[0].member, "SetDownURL");
  EXPECT_NO_THROW(CheckAddresses(parsed.settings, parsed.events, allowed)) << "XML given as content is no address";

  auto refused = [&](const char* settingsJson, const std::string& events = "https://oa.example/ev") {
    std::vector<Setting> settings = ParseSettings(ParseJson(settingsJson));
    EXPECT_THROW(CheckAddresses(settings, events, allowed), JobError) << settingsJson << " " << events;
  };
  refused("[[\"SetUpURL\", \"https://attacker.example/up\"]]");
  refused("[[\"SetDownURL\", \"file:///C:/Users/me/secret.doc\"]]");
  refused("[[\"SetDocTmplDLURL\", \"\\\\\\\\server\\\\share\\\\t.doc\"]]");
  refused("[[\"SetXMLCont\", 2, \"http://attacker.example/x.xml\"]]");
  refused("[[\"SetRevisionFN\", \"C:\\\\Windows\\\\x.doc\"]]");
  refused("[]", "https://attacker.example/ev");

  EXPECT_THROW(ParseJob(ParseJson("[]")), JobError);
  EXPECT_THROW(ParseJob(ParseJson("{\"open\": [\"1\", \"\"]}")), JobError) << "no events address";
  EXPECT_THROW(ParseJob(ParseJson("{\"events\": \"https://oa.example/ev\"}")), JobError) << "nothing to open";
  EXPECT_THROW(ParseJob(ParseJson("{\"events\": \"e\", \"open\": [1, \"\"]}")), JobError);
  EXPECT_THROW(ParseSettings(ParseJson("[[\"SetUpURL\"], 3]")), JobError);
  EXPECT_TRUE(ParseJob(ParseJson("{\"events\": \"e\", \"openHt\": true}")).openHt);
}

// The launcher waits while the user edits: a save before a template is no end.
TEST(LauncherJob, OnlyTheCyclesEndEndsTheLauncher) {
  auto event = [](const char* p1, const char* p2) {
    return std::vector<JsonValue>{JsonValue::String(p1), JsonValue::String(p2), JsonValue(), JsonValue(), JsonValue()};
  };
  EXPECT_TRUE(EndsTheCycle(event("quit", "Save")));
  EXPECT_TRUE(EndsTheCycle(event("quit", "NoSave")));
  EXPECT_FALSE(EndsTheCycle(event("quit", "TempSave"))) << "editing goes on after a save before a template";
  EXPECT_FALSE(EndsTheCycle(event("TempletFN", "notice.doc")));
  EXPECT_FALSE(EndsTheCycle({}));
}

// The object trims every byte up to the space and reads member names in any
// case; a job must not read one way to the launcher and another to the object.
TEST(LauncherJob, OneAddressRuleWithTheObject) {
  std::vector<std::string> allowed = {"https://oa.example"};
  EXPECT_EQ(TrimAddress("\x01\t http://x.example/ \r\n"), "http://x.example/");
  EXPECT_TRUE(IsWebAddress("\x01http://x.example/")) << "what the object fetches after trimming";
  EXPECT_EQ(OriginOf("\x01http://x.example/"), "http://x.example") << "so the origin is judged the same way";
  EXPECT_FALSE(IsOnOriginList("\x01http://x.example/", allowed));
  EXPECT_FALSE(IsWebAddress("http://x.example/\r\nHost: y")) << "a control character inside is no address";
  EXPECT_EQ(OriginOf("http://oa.example\\@evil.example/"), "")
      << "readers disagree on where such a host ends";

  for (const char* job : {
           "{\"settings\": [[\"SetDownURL\", \"\\u0001http://attacker.example/\"]], \"open\": [\"1\", \"\"], "
           "\"events\": \"https://oa.example/ev\"}",
           "{\"settings\": [[\"SetDown\\u0000URL\", \"x\"]], \"open\": [\"1\", \"\"], \"events\": \"https://oa.example/ev\"}",
           "{\"open\": [\"1\\n\", \"\"], \"events\": \"https://oa.example/ev\"}",
           "{\"open\": [\"1\", \"\"], \"events\": \"https://oa.example/ev\", \"x\\u0007\": 1}"})
    EXPECT_THROW(ParseJob(ParseJson(job)), JobError) << job;
  EXPECT_THROW(JobAddressOf("nibword:https://oa.example/\x01j"), JobError);

  EXPECT_EQ(WithQueryParameter("https://oa.example/up?id=1", "isSave=OnlySave"), "https://oa.example/up?id=1&isSave=OnlySave");
  EXPECT_EQ(WithQueryParameter("https://oa.example/up", "isSave=OnlySave"), "https://oa.example/up?isSave=OnlySave")
      << "without a query, \"&\" would make the parameter part of the path";
}

}  // namespace
}  // namespace nib::host
