// ndislog-store-writer: the centre's writer under rsyslog's omprog. Each line on standard
// input is one record, `HOST MSG`; MSG and an LF are appended whole to STORE/HOST.jsonl, and
// only then does the writer answer OK. Any other answer makes rsyslog keep the record and
// offer it again later, so the centre confirms over RELP only what is in its file.
//
//     ndislog-store-writer STORE
//
// A SIGHUP (omprog's hup.signal) closes the open files: a rotated file is created afresh.
#include "store_folder.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

volatile std::sig_atomic_t hang_up_seen = 0;

void OnHangUp(int)
{
    hang_up_seen = 1;
}

// SA_RESTART: a SIGHUP must not cut short the read of the next record.
void CatchHangUp()
{
    struct sigaction action {};
    action.sa_handler = OnHangUp;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGHUP, &action, nullptr);
}

// One answer line to rsyslog, on its way at once: rsyslog waits for it.
void Answer(const std::string& text)
{
    std::cout << text << '\n' << std::flush;
}

// Stores one record line (without its LF); returns "" or why it is not stored.
std::string StoreRecord(StoreFolder& store, const std::string& record)
{
    const size_t space = record.find(' ');
    if (space == std::string::npos)
        return "a record without its host: " + record.substr(0, 80);
    return store.Append(std::string_view(record).substr(0, space), record.substr(space + 1) + '\n');
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: ndislog-store-writer STORE\n";
        return 2;
    }
    CatchHangUp();
    std::ios::sync_with_stdio(false);
    StoreFolder store(argv[1]);
    // Ready, whatever the folder's state: a missing or full store fails each record and
    // rsyslog keeps it, while a writer that ended here would only be started again (and
    // rsyslog 8.2302 crashes when its program ends before its first answer).
    Answer("OK");
    std::string record;
    while (std::getline(std::cin, record)) {
        if (hang_up_seen) {
            hang_up_seen = 0;
            store.CloseAll();
        }
        const std::string failure = StoreRecord(store, record);
        Answer(failure.empty() ? "OK" : "error: " + failure);
        if (!failure.empty())
            std::cerr << "ndislog-store-writer: " << failure << '\n';
    }
    return 0;
}
