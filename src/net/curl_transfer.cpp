#include "net/curl_transfer.h"

#include "base/program_identity.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <openssl/evp.h>

namespace vistrel {

namespace {

constexpr size_t kMost_Body = 64 * 1024;

void Global_Init() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Easy_Deleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using Easy_Ptr = std::unique_ptr<CURL, Easy_Deleter>;

struct Slist_Deleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist_Ptr = std::unique_ptr<curl_slist, Slist_Deleter>;

struct Mime_Deleter {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
using Mime_Ptr = std::unique_ptr<curl_mime, Mime_Deleter>;

Slist_Ptr Slist_Of(const std::vector<std::string>& lines) {
    curl_slist* list = nullptr;
    for (const std::string& line : lines) {
        curl_slist* longer = curl_slist_append(list, line.c_str());
        if (longer == nullptr) {
            curl_slist_free_all(list);
            throw std::bad_alloc();
        }
        list = longer;
    }
    return Slist_Ptr(list);
}

size_t Keep_Body(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    const size_t bytes = size * count;
    if (body->size() < kMost_Body)
        body->append(data, std::min(bytes, kMost_Body - body->size()));
    return bytes;
}

size_t Drop_Body(char*, size_t size, size_t count, void*) {
    return size * count;
}

// The certificate store OpenSSL itself would use, honouring the same two
// variables the FTPS connections honour.
void Use_Certificate_Store(CURL* easy) {
    if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0')
        curl_easy_setopt(easy, CURLOPT_CAINFO, file);
    if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0')
        curl_easy_setopt(easy, CURLOPT_CAPATH, dir);
}

Transfer_Error::Kind Kind_Of(CURLcode code) {
    switch (code) {
    case CURLE_LOGIN_DENIED:
        return Transfer_Error::Kind::Refused;
    case CURLE_ABORTED_BY_CALLBACK:
        return Transfer_Error::Kind::Cancelled;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return Transfer_Error::Kind::Unsupported;
    default:
        return Transfer_Error::Kind::Network;
    }
}

// The words of a failure, without the address: a Telegram address holds the
// bot's token.
std::string Failure_Text(CURLcode code, const char* detail) {
    std::string text = curl_easy_strerror(code);
    if (detail != nullptr && *detail != '\0' && code != CURLE_URL_MALFORMAT)
        text += std::string(": ") + detail;
    return text;
}

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(std::max(n, 0)));
    return out;
}

// "Thu, 10 Dec 2026 14:03:22 +0100", whatever the locale.
std::string Mail_Date() {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const long offset_min = local.tm_gmtoff / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDays[local.tm_wday % 7], local.tm_mday, kMonths[local.tm_mon % 12],
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                  offset_min < 0 ? '-' : '+', std::labs(offset_min) / 60,
                  std::labs(offset_min) % 60);
    return text;
}

// An address for a URL: IPv6 literals in brackets.
std::string Url_Host(const std::string& host) {
    return host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
}

} // namespace

struct Curl_Transfers::Handles {
    CURLM* multi = nullptr;
    ~Handles() {
        if (multi != nullptr)
            curl_multi_cleanup(multi);
    }
};

Curl_Transfers::Curl_Transfers() : Curl_Transfers(Limits{}) {}

Curl_Transfers::Curl_Transfers(Limits limits)
    : handles_(std::make_unique<Handles>()), limits_(limits) {
    Global_Init();
    handles_->multi = curl_multi_init();
    if (handles_->multi == nullptr)
        throw std::bad_alloc();
}

Curl_Transfers::~Curl_Transfers() = default;

void Curl_Transfers::Cancel() noexcept {
    cancelled_.store(true);
    curl_multi_wakeup(handles_->multi);
}

namespace {

// Runs one transfer on the multi handle, so that Cancel can wake the wait.
CURLcode Run(CURLM* multi, CURL* easy, const std::atomic<bool>& cancelled) {
    if (cancelled.load())
        return CURLE_ABORTED_BY_CALLBACK;
    if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left))
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
                    result = message->data.result;
            break;
        }
        if (cancelled.load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        if (cancelled.load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
    }
    curl_multi_remove_handle(multi, easy);
    return result;
}

Easy_Ptr New_Easy(const std::string& url, const Curl_Transfers::Limits& limits, char* errors) {
    Easy_Ptr easy(curl_easy_init());
    if (!easy)
        throw std::bad_alloc();
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // A cancel must not wait for a name lookup that hangs: its thread is
    // left to end on its own.
    curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.whole.count()));
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errors);
    curl_easy_setopt(e, CURLOPT_USERAGENT, (std::string(kApp_Name) + "/" + kVersion_Local).c_str());
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    Use_Certificate_Store(e);
    return easy;
}

} // namespace

Http_Answer Curl_Transfers::Perform_Http(CURL* e, const std::vector<Http_Header>& headers,
                                         const char* errors) {
    std::vector<std::string> lines;
    for (const Http_Header& h : headers)
        lines.push_back(h.name + ": " + h.value);
    // No "Expect: 100-continue" round trip for a picture.
    lines.push_back("Expect:");
    const Slist_Ptr list = Slist_Of(lines);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, list.get());
    Http_Answer answer;
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Keep_Body);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &answer.body);
    const CURLcode code = Run(handles_->multi, e, cancelled_);
    if (code != CURLE_OK)
        throw Transfer_Error(Kind_Of(code), Failure_Text(code, errors));
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &answer.status);
    return answer;
}

Http_Answer Curl_Transfers::Put_File(const std::string& url,
                                     const std::vector<Http_Header>& headers,
                                     const std::string& file_path) {
    std::FILE* file = std::fopen(file_path.c_str(), "rb");
    if (file == nullptr)
        throw Transfer_Error(Transfer_Error::Kind::Unsupported,
                             "the picture " + file_path + " cannot be read");
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, &std::fclose);
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);

    char errors[CURL_ERROR_SIZE] = {};
    Easy_Ptr easy = New_Easy(url, limits_, errors);
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_READDATA, file);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(std::max(size, 0L)));
    return Perform_Http(e, headers, errors);
}

Http_Answer Curl_Transfers::Post_Form(const std::string& url,
                                      const std::vector<Http_Header>& headers,
                                      const std::vector<Form_Part>& parts) {
    char errors[CURL_ERROR_SIZE] = {};
    Easy_Ptr easy = New_Easy(url, limits_, errors);
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    const Mime_Ptr mime(curl_mime_init(e));
    for (const Form_Part& p : parts) {
        curl_mimepart* part = curl_mime_addpart(mime.get());
        curl_mime_name(part, p.name.c_str());
        if (!p.file_path.empty()) {
            if (curl_mime_filedata(part, p.file_path.c_str()) != CURLE_OK)
                throw Transfer_Error(Transfer_Error::Kind::Unsupported,
                                     "the picture " + p.file_path + " cannot be read");
            curl_mime_filename(part, p.file_name.c_str());
        } else {
            curl_mime_data(part, p.data.data(), p.data.size());
        }
        if (!p.content_type.empty())
            curl_mime_type(part, p.content_type.c_str());
    }
    curl_easy_setopt(e, CURLOPT_MIMEPOST, mime.get());
    return Perform_Http(e, headers, errors);
}

void Curl_Transfers::Send_Mail(const Mail_Request& mail) {
    const bool tls = mail.security == Smtp_Security::Tls;
    const std::string url = std::string(tls ? "smtps://" : "smtp://") + Url_Host(mail.server) +
                            ":" + std::to_string(mail.port);
    char errors[CURL_ERROR_SIZE] = {};
    Easy_Ptr easy = New_Easy(url, limits_, errors);
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // Never in clear text, but to this machine itself.
    if (!tls)
        curl_easy_setopt(e, CURLOPT_USE_SSL,
                         Is_Loopback_Host(mail.server) ? static_cast<long>(CURLUSESSL_TRY)
                                                       : static_cast<long>(CURLUSESSL_ALL));
    if (!mail.login.empty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, mail.login.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, mail.password.c_str());
    }
    const std::string from = "<" + mail.from + ">";
    curl_easy_setopt(e, CURLOPT_MAIL_FROM, from.c_str());
    const Slist_Ptr recipients = Slist_Of({"<" + mail.to + ">"});
    curl_easy_setopt(e, CURLOPT_MAIL_RCPT, recipients.get());
    const Slist_Ptr headers =
        Slist_Of({"Date: " + Mail_Date(), "From: " + from, "To: <" + mail.to + ">",
                  "Subject: " + Encoded_Word(mail.subject)});
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());

    const Mime_Ptr mime(curl_mime_init(e));
    curl_mimepart* text = curl_mime_addpart(mime.get());
    curl_mime_data(text, mail.text.data(), mail.text.size());
    curl_mime_type(text, "text/plain; charset=UTF-8");
    curl_mime_encoder(text, "base64");
    if (!mail.attachment_path.empty()) {
        curl_mimepart* picture = curl_mime_addpart(mime.get());
        if (curl_mime_filedata(picture, mail.attachment_path.c_str()) != CURLE_OK)
            throw Transfer_Error(Transfer_Error::Kind::Unsupported,
                                 "the picture " + mail.attachment_path + " cannot be read");
        curl_mime_filename(picture, mail.attachment_name.c_str());
        curl_mime_type(picture, "image/jpeg");
        curl_mime_encoder(picture, "base64");
    }
    curl_easy_setopt(e, CURLOPT_MIMEPOST, mime.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Drop_Body);
    const CURLcode code = Run(handles_->multi, e, cancelled_);
    if (code != CURLE_OK)
        throw Transfer_Error(Kind_Of(code), Failure_Text(code, errors));
}

std::string Encoded_Word(const std::string& text) {
    bool plain = true;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || byte < 0x20)
            plain = false;
    }
    if (plain)
        return text;
    // An encoded word holds at most 75 characters, and whole characters:
    // 45 bytes make 60 of base64. Readers join the words a space separates.
    constexpr size_t kMost_Bytes = 45;
    std::string words;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(start + kMost_Bytes, text.size());
        while (end < text.size() && end > start + 1 &&
               (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80)
            --end;
        words += (words.empty() ? "" : " ") +
                 ("=?UTF-8?B?" + Base64(text.substr(start, end - start)) + "?=");
        start = end;
    }
    return words;
}

bool Is_Loopback_Host(const std::string& host) {
    if (host == "localhost" || host == "::1" || host == "[::1]")
        return true;
    in_addr v4{};
    return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

} // namespace vistrel
