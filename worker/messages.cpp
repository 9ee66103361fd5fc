// Message catalogue (data copy) and recording of events. This file is
// compiled with code page 932 as its execution character set, so the
// Japanese texts below are stored as the CP932 bytes the status line needs.
#include "worker/messages.h"

#include <cstring>

#include "worker/settings.h"
#include "worker/text.h"
#include "worker/worker.h"

// The IDs in catalogue order, and their texts in the same order, one after
// the other: no text pays for the room of the longest. "%s" stands where a
// message takes its insertion (the resource's "%1").
const uint32_t kCatalogueIds[kCatalogueRows] = {
    MSG_MEMORY_ERROR,        MSG_DEVICE_OPEN_FAILED,  MSG_DEVICE_ERROR,        MSG_URL_OPEN_FAILED,
    MSG_HTTP_STATUS_NOT_OK,  MSG_HTTP_EXCEPTION,      MSG_REPLY_CUT,           MSG_SETTING_TOO_LONG,
    MSG_REFUSED_ACCOUNT,     MSG_REFUSED_HOST,        MSG_REFUSED_AGENT,       MSG_REFUSED_ABUSE,
    MSG_REFUSED_PLAN,        MSG_URL_NOT_SET,         MSG_LOGFILE_OPEN_FAILED, MSG_HTTP_EMPTY_RESPONSE,
    MSG_NOT_A_SUCCESS,       MSG_ADDRESS_UNCHECKED,   MSG_LOCAL6_NOT_IPV4,     MSG_PROVIDER_WAIT,
    MSG_SERVICE_START,       MSG_SERVICE_END,         MSG_URL_FETCHED,         MSG_URL_FETCHING,
    MSG_ADDRESS_UNCHANGED,   MSG_DEVICE_OPENED,       MSG_DEBUG_MODE,          MSG_GENERIC_ERROR,
    MSG_GENERIC_WARNING,     MSG_GENERIC_INFO,
};
const char kCatalogueTexts[] =
    "メモリエラー。\0"
    "デバイスが開けられませんでした。\0"
    "デバイスがエラーが発生しました。\0"
    "URLを開く事が出来ませんでした。\0"
    "HTTPのステータスコードが正常以外です。\0"
    "HTTP通信中に例外が発生しました。\0"
    "HTTPの応答が途中で切れました。\0"
    "%sが255バイトを超えています。\0"
    "応答%sで停止。ユーザー名とパスワードを確認して下さい。\0"
    "応答%sで停止。ホスト名を確認して下さい。\0"
    "応答%sで停止。agent=を確認して下さい。\0"
    "応答%sで停止。プロバイダのアカウントページを確認して下さい。\0"
    "応答%sで停止。プロバイダとの契約を確認して下さい。\0"
    "接続先URLが設定されていません。\0"
    "ログファイルを開く事が出来ませんでした。\0"
    "HTTPの戻りデータが0バイトです。\0"
    "成功の応答ではありません。\0"
    "アドレスを確認できませんでした。\0"
    "family=4ではlocal6を使えません。\0"
    "応答%sで30分待ちます。\0"
    "Pelkorサービスを開始します。\0"
    "Pelkorサービスを終了します。\0"
    "URL取得に成功しました。\0"
    "URL取得中・・・。\0"
    "アドレスに変化はありません。\0"
    "デバイスが開けられました。\0"
    "デバッグモードで動作します。\0"
    "%s%s\0"
    "%s%s\0"
    "%s%s";

const char* CatalogueText(uint32_t id) {
    const char* text = kCatalogueTexts;
    for (uint32_t known : kCatalogueIds) {
        if (known == id) return text;
        text += std::strlen(text) + 1;
    }
    return kCatalogueTexts;
}

void FormatCatalogueText(uint32_t id, const char* insertion, char (&text)[kMessageTextSize]) {
    const char* format = CatalogueText(id);
    const char* mark = format;
    while (*mark && !(insertion && mark[0] == '%' && mark[1] == 's')) ++mark;
    CopyCut(text, sizeof text, format, static_cast<size_t>(mark - format));
    if (!*mark) return;
    AppendCut(text, sizeof text, insertion);
    AppendCut(text, sizeof text, mark + 2);
}

uint16_t EventTypeFor(uint32_t id) {
    // Indexed by the severity bits: success, informational, warning, error.
    static const uint16_t kTypes[4] = {8, 4, 2, 1};
    return kTypes[id >> 30];
}

namespace {

void AppendNumber(char (&line)[kStatusLineSize], int value, int minDigits, char separator) {
    const char text[2] = {separator, '\0'};
    AppendDecimal(line, sizeof line, value, minDigits);
    AppendCut(line, sizeof line, text);
}

}  // namespace

void FormatStatusLine(const platform::LocalTime& t, const char* text,
                      char (&line)[kStatusLineSize]) {
    line[0] = '\0';
    AppendNumber(line, t.year, 1, '/');
    AppendNumber(line, t.month, 2, '/');
    AppendNumber(line, t.day, 2, ',');
    AppendNumber(line, t.hour, 2, ':');
    AppendNumber(line, t.minute, 2, ':');
    AppendNumber(line, t.second, 2, ' ');
    AppendCut(line, sizeof line, text);
}

void (*g_statusLineEcho)(const char* line);

uint32_t GenericIdFor(uint32_t id) {
    static const uint32_t kGeneric[4] = {MSG_GENERIC_INFO, MSG_GENERIC_INFO, MSG_GENERIC_WARNING,
                                         MSG_GENERIC_ERROR};
    return kGeneric[id >> 30];
}

namespace {
int g_dnsRecordIndex;  // the selected DNS record less one; the worker thread's alone
}  // namespace

void SelectDnsRecord(int dnsRecord) { g_dnsRecordIndex = dnsRecord - 1; }
int SelectedDnsRecord() { return g_dnsRecordIndex + 1; }

void RecordEventLocked(uint32_t id, int dnsRecord, const char* insertion) {
    char text[kMessageTextSize];
    FormatCatalogueText(id, insertion, text);
    // The fetching and unchanged-address texts are for the status line only.
    if (id != MSG_URL_FETCHING && id != MSG_ADDRESS_UNCHANGED) {
        if (dnsRecord == 1) {
            platform::ReportEventToLog(EventTypeFor(id), id, insertion ? &insertion : nullptr,
                                     insertion ? 1 : 0);
        } else {
            // "[setting2] " and the text: the Event Viewer shows which record.
            char section[20] = "[";
            char name[16];
            DnsRecordSection(dnsRecord, name);
            AppendCut(section, sizeof section, name);
            AppendCut(section, sizeof section, "] ");
            const char* strings[2] = {section, text};
            const uint32_t generic = GenericIdFor(id);
            platform::ReportEventToLog(EventTypeFor(generic), generic, strings, 2);
        }
    }
    char line[kStatusLineSize];
    FormatStatusLine(platform::CurrentLocalTime(), text, line);
    WriteStatusLine(dnsRecord, line);
    if (g_statusLineEcho) g_statusLineEcho(line);
}

void RecordEvent(uint32_t id, const char* insertion) {
    RecordLock lock;
    if (!RecordsSealed()) RecordEventLocked(id, SelectedDnsRecord(), insertion);
}
