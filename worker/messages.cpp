// Message catalogue (data copy) and recording of events. This file is
// compiled with code page 932 as its execution character set, so the
// Japanese texts below are stored as the CP932 bytes the status line needs.
#include "worker/messages.h"

#include "worker/settings.h"
#include "worker/text.h"
#include "worker/worker.h"

const CatalogueRow kMessageCatalogue[kCatalogueRows] = {
    {MSG_MEMORY_ERROR, "メモリエラー。"},
    {MSG_DEVICE_OPEN_FAILED, "デバイスが開けられませんでした。"},
    {MSG_DEVICE_ERROR, "デバイスがエラーが発生しました。"},
    {MSG_URL_OPEN_FAILED, "URLを開く事が出来ませんでした。"},
    {MSG_HTTP_STATUS_NOT_OK, "HTTPのステータスコードが正常以外です。"},
    {MSG_HTTP_EXCEPTION, "HTTP通信中に例外が発生しました。"},
    {MSG_URL_NOT_SET, "接続先URLが設定されていません。"},
    {MSG_LOGFILE_OPEN_FAILED, "ログファイルを開く事が出来ませんでした。"},
    {MSG_HTTP_EMPTY_RESPONSE, "HTTPの戻りデータが0バイトです。"},
    {MSG_NOT_A_SUCCESS, "成功の応答ではありません。"},
    {MSG_ADDRESS_UNCHECKED, "アドレスを確認できませんでした。"},
    {MSG_SERVICE_START, "Pelkorサービスを開始します。"},
    {MSG_SERVICE_END, "Pelkorサービスを終了します。"},
    {MSG_URL_FETCHED, "URL取得に成功しました。"},
    {MSG_URL_FETCHING, "URL取得中・・・。"},
    {MSG_ADDRESS_UNCHANGED, "アドレスに変化はありません。"},
    {MSG_DEVICE_OPENED, "デバイスが開けられました。"},
    {MSG_DEBUG_MODE, "デバッグモードで動作します。"},
    {MSG_GENERIC_ERROR, "%s%s"},
    {MSG_GENERIC_WARNING, "%s%s"},
    {MSG_GENERIC_INFO, "%s%s"},
};

const char* CatalogueText(uint32_t id) {
    for (const CatalogueRow& row : kMessageCatalogue) {
        if (row.id == id) return row.text;
    }
    return kMessageCatalogue[0].text;
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

void RecordEventLocked(uint32_t id, int dnsRecord) {
    // The fetching and unchanged-address texts are for the status line only.
    if (id != MSG_URL_FETCHING && id != MSG_ADDRESS_UNCHANGED) {
        if (dnsRecord == 1) {
            platform::ReportEventToLog(EventTypeFor(id), id, nullptr, 0);
        } else {
            // "[setting2] " and the text: the Event Viewer shows which record.
            char section[20] = "[";
            char name[16];
            DnsRecordSection(dnsRecord, name);
            AppendCut(section, sizeof section, name);
            AppendCut(section, sizeof section, "] ");
            const char* strings[2] = {section, CatalogueText(id)};
            const uint32_t generic = GenericIdFor(id);
            platform::ReportEventToLog(EventTypeFor(generic), generic, strings, 2);
        }
    }
    char line[kStatusLineSize];
    FormatStatusLine(platform::CurrentLocalTime(), CatalogueText(id), line);
    WriteStatusLine(dnsRecord, line);
    if (g_statusLineEcho) g_statusLineEcho(line);
}

void RecordEvent(uint32_t id) {
    RecordLock lock;
    if (!RecordsSealed()) RecordEventLocked(id, SelectedDnsRecord());
}
