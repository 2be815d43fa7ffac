// Uploads over https with the certificate checked, and through the proxy the
// user's Internet settings name.

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "DialogRobot.h"
#include "TestSupport.h"
#include "com/StrConv.h"
#include "services/Files.h"
#include "services/JustHttp.h"
#include "services/UniqueName.h"

namespace nib::test {
namespace {

constexpr wchar_t kSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

std::string RandomBytes(size_t size) {
  std::mt19937 generator(5);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(generator());
  return data;
}

std::string Folder(const wchar_t* name) { return WideToAnsi(BuildPath(name)); }

std::string PortOf(const std::string& folder) { return ReadAll(folder + "\\port"); }

class Secure : public ComApartment {
 protected:
  void SetUp() override {
    ComApartment::SetUp();
    work = TempFolderPath() + "nib-secure-" + NewUniqueName();
    CreateDirectoryA(work.c_str(), nullptr);
    file = work + "\\page.Qoz";
    content = RandomBytes(300 * 1024);
    ASSERT_TRUE(SaveTextFile(content, file));
  }
  void TearDown() override {
    DeleteTree(work);
    ComApartment::TearDown();
  }
  // The upload's reply, and what the user was shown (empty: nothing).
  std::pair<std::string, std::wstring> Upload(const std::string& url) {
    DialogRobot robot(L"", false, 0, L"#32770");
    std::string reply = http.UploadFile(url, file);
    robot.Stop();
    return {reply, robot.SawDialog() ? robot.Seen().text : L""};
  }
  std::string work, file, content;
  TJustHttp http;
};

// The user's Internet settings naming a proxy, as the browser stores them,
// while the object lives.
class UserProxySetting {
 public:
  explicit UserProxySetting(const std::string& proxy) {
    std::vector<BYTE> blob;
    auto dword = [&](DWORD value) {
      for (int i = 0; i < 4; ++i) blob.push_back(static_cast<BYTE>(value >> (8 * i)));
    };
    auto text = [&](const std::string& value) {
      dword(static_cast<DWORD>(value.size()));
      blob.insert(blob.end(), value.begin(), value.end());
    };
    dword(0x46);  // the format's version
    dword(1);     // its change counter
    dword(0x1 | 0x2);  // direct | named proxy
    text(proxy);
    text("");  // no bypass list
    text("");  // no automatic configuration script
    for (int i = 0; i < 8; ++i) dword(0);
    RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    if (key_)
      RegSetValueExW(key_, L"DefaultConnectionSettings", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
    // The settings dialog also writes the older single values beside it.
    RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &settings_, nullptr);
    if (settings_) {
      DWORD enable = 1;
      std::wstring server = AnsiToWide(proxy);
      RegSetValueExW(settings_, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
      RegSetValueExW(settings_, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                     static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    }
  }
  ~UserProxySetting() {
    if (key_) {
      RegDeleteValueW(key_, L"DefaultConnectionSettings");
      RegCloseKey(key_);
    }
    if (settings_) {
      RegDeleteValueW(settings_, L"ProxyEnable");
      RegDeleteValueW(settings_, L"ProxyServer");
      RegCloseKey(settings_);
    }
  }
  UserProxySetting(const UserProxySetting&) = delete;
  UserProxySetting& operator=(const UserProxySetting&) = delete;

 private:
  HKEY key_ = nullptr;
  HKEY settings_ = nullptr;
};

// The run's own CA is trusted only where the test is started with it added to
// the machine's roots (tools/with-test-ca): elsewhere the certificate is refused.
TEST_F(Secure, HttpsUploadWithATrustedCertificateArrives) {
  std::string server = Folder(L"tlsserver"), port = PortOf(server);
  ASSERT_FALSE(port.empty()) << "the https server fixture is running";
  auto [reply, message] = Upload("https://localhost:" + port + "/upload?reply=OK&id=trusted");
  EXPECT_EQ(reply, "OK") << WideToAnsi(message);
  EXPECT_TRUE(http.LastUploadDelivered());
  EXPECT_TRUE(ReadAll(server + "\\records\\trusted.body") == content) << "the body arrived whole";
  auto [local, localMessage] = Upload("https://127.0.0.1:" + port + "/upload?reply=OK&id=wrong-name");
  EXPECT_FALSE(http.LastUploadDelivered()) << "the certificate names localhost only";
  EXPECT_EQ(localMessage, Utf8ToWide("Http请求未成功,可能是目标地址不可用,请与管理员联系!\r\n原因: 证书不受信任 (WinINet ") +
                              std::to_wstring(http.LastUpload().error) + L")");
  EXPECT_EQ(ReadAll(server + "\\records\\wrong-name.body"), "");
}

// Without the run's CA among the roots (Wine takes them from the host's
// bundle), the same server is refused.
TEST_F(Secure, HttpsUploadWithAnUntrustedCertificateIsRefused) {
  std::string server = Folder(L"tlsserver"), port = PortOf(server);
  ASSERT_FALSE(port.empty()) << "the https server fixture is running";
  for (const std::string host : {"127.0.0.1", "localhost"}) {
    auto [reply, message] = Upload("https://" + host + ":" + port + "/upload?reply=OK&id=untrusted");
    EXPECT_EQ(reply, "") << host;
    EXPECT_FALSE(http.LastUploadDelivered()) << host << ": an untrusted certificate is no success";
    EXPECT_EQ(message, Utf8ToWide("Http请求未成功,可能是目标地址不可用,请与管理员联系!\r\n原因: 证书不受信任 (WinINet ") +
                           std::to_wstring(http.LastUpload().error) + L")")
        << host;
  }
  EXPECT_EQ(ReadAll(server + "\\records\\untrusted.body"), "") << "nothing was sent to it";
}

TEST_F(Secure, UploadTakesTheUsersProxy) {
  std::string proxy = Folder(L"proxyserver"), proxyPort = PortOf(proxy);
  std::string base = ServerBase();
  ASSERT_FALSE(proxyPort.empty()) << "the proxy fixture is running";
  ASSERT_FALSE(base.empty()) << "the document server fixture is running";
  std::string log = proxy + "\\proxy.log";
  std::string before = ReadAll(log);
  {
    UserProxySetting setting("127.0.0.1:" + proxyPort);
    auto [reply, message] = Upload(base + "/upload?reply=OK&id=proxied");
    EXPECT_EQ(reply, "OK") << WideToAnsi(message);
    EXPECT_NE(ReadAll(log).find("POST " + base + "/upload?reply=OK&id=proxied"), std::string::npos)
        << "the proxy carried it: " << ReadAll(log);
    EXPECT_TRUE(ReadAll(ServerFolder() + "\\records\\proxied.body") == content);
  }
  std::string carried = ReadAll(log);
  auto [reply, message] = Upload(base + "/upload?reply=OK&id=direct");
  EXPECT_EQ(reply, "OK") << "no proxy configured: a direct connection";
  EXPECT_EQ(ReadAll(log), carried) << "the proxy saw nothing more";
}

}  // namespace
}  // namespace nib::test
