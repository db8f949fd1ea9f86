// A tiny session manager for the session-client tests, on libSM's Sms* side. It listens on
// local sockets only, accepts any local client without authentication, answers a
// registration with the initial save-yourself, grants every interaction request, and
// reports what it receives on stdout, one line each:
//   listening <network ids>, registered, property <name> <values...>,
//   interact-request <dialog type>, interact-done <cancel>, save-yourself-done <success>,
//   save-yourself-request, close-connection, connection-lost.
// Commands on stdin, one a line: "save <shutdown 0|1> <interact style 0..2>", "die",
// "cancel", "complete", "quit". It ends on "quit", end of input, SIGTERM, or after the
// number of seconds given as argv[1] (default 60).
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Client {
    IceConn ice;
    SmsConn sms;
};
std::vector<Client> clients;
volatile sig_atomic_t stop = 0;

void report(const std::string& s) {
    printf("%s\n", s.c_str());
    fflush(stdout);
}

Client* find(SmsConn sms) {
    for (auto& c : clients)
        if (c.sms == sms) return &c;
    return nullptr;
}

void drop(IceConn ice) {
    for (size_t i = 0; i < clients.size(); i++) {
        if (clients[i].ice != ice) continue;
        if (clients[i].sms) SmsCleanUp(clients[i].sms);
        IceSetShutdownNegotiation(ice, False);
        IceCloseConnection(ice);
        clients.erase(clients.begin() + i);
        return;
    }
}

Status registerclient(SmsConn sms, SmPointer, char* previousid) {
    free(previousid);
    char* id = SmsGenerateClientID(sms);
    if (!id) id = strdup("1tandortest000000000000000000000");
    report("registered");
    Status ok = SmsRegisterClientReply(sms, id);
    free(id);
    // Session managers save a new client's state at once.
    SmsSaveYourself(sms, SmSaveLocal, False, SmInteractStyleNone, False);
    return ok;
}

void interactrequest(SmsConn sms, SmPointer, int dialogtype) {
    report("interact-request " + std::to_string(dialogtype));
    SmsInteract(sms);
}

void interactdone(SmsConn, SmPointer, Bool cancel) {
    report("interact-done " + std::to_string(cancel ? 1 : 0));
}

void saveyourselfrequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {
    report("save-yourself-request");
}

void phase2request(SmsConn sms, SmPointer) {
    SmsSaveYourselfPhase2(sms);
}

void saveyourselfdone(SmsConn, SmPointer, Bool success) {
    report("save-yourself-done " + std::to_string(success ? 1 : 0));
}

void closeconnection(SmsConn sms, SmPointer, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    report("close-connection");
    if (Client* c = find(sms)) drop(c->ice);
}

void setproperties(SmsConn, SmPointer, int n, SmProp** props) {
    for (int i = 0; i < n; i++) {
        std::string line = std::string("property ") + props[i]->name;
        for (int v = 0; v < props[i]->num_vals; v++) {
            const SmPropValue& val = props[i]->vals[v];
            if (strcmp(props[i]->type, SmCARD8) == 0)
                line += " " + std::to_string(*(unsigned char*)val.value);
            else
                line += " " + std::string((const char*)val.value, val.length);
        }
        report(line);
        SmFreeProperty(props[i]);
    }
    free(props);
}

void deleteproperties(SmsConn, SmPointer, int n, char** names) {
    for (int i = 0; i < n; i++)
        free(names[i]);
    free(names);
}

void getproperties(SmsConn sms, SmPointer) {
    SmsReturnProperties(sms, 0, nullptr);
}

Status newclient(SmsConn sms, SmPointer, unsigned long* mask, SmsCallbacks* cb, char**) {
    memset(cb, 0, sizeof *cb);
    cb->register_client.callback = registerclient;
    cb->interact_request.callback = interactrequest;
    cb->interact_done.callback = interactdone;
    cb->save_yourself_request.callback = saveyourselfrequest;
    cb->save_yourself_phase2_request.callback = phase2request;
    cb->save_yourself_done.callback = saveyourselfdone;
    cb->close_connection.callback = closeconnection;
    cb->set_properties.callback = setproperties;
    cb->delete_properties.callback = deleteproperties;
    cb->get_properties.callback = getproperties;
    *mask = ~0UL;
    IceConn ice = SmsGetIceConnection(sms);
    for (auto& c : clients)
        if (c.ice == ice) c.sms = sms;
    return 1;
}

bool local(const char* host) {
    return host && (strncmp(host, "local/", 6) == 0 || strncmp(host, "unix/", 5) == 0);
}
Bool hostauth(char* host) {
    return local(host) ? True : False;
}

void quietioerror(IceConn) {}

void command(const char* line) {
    int shutdown = 0, style = 0;
    for (auto& c : clients) {
        if (!c.sms) continue;
        if (sscanf(line, "save %d %d", &shutdown, &style) == 2)
            SmsSaveYourself(c.sms, SmSaveLocal, shutdown ? True : False, style, False);
        else if (strncmp(line, "die", 3) == 0)
            SmsDie(c.sms);
        else if (strncmp(line, "cancel", 6) == 0)
            SmsShutdownCancelled(c.sms);
        else if (strncmp(line, "complete", 8) == 0)
            SmsSaveComplete(c.sms);
        IceFlush(c.ice);
    }
}

} // namespace

int main(int argc, char** argv) {
    long lifetime = argc > 1 ? atol(argv[1]) : 60;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = [](int) { stop = 1; };
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    IceSetIOErrorHandler(quietioerror);

    char err[256] = "";
    if (!SmsInitialize("tandortest", "1.0", newclient, nullptr, hostauth, sizeof err, err)) {
        fprintf(stderr, "SmsInitialize: %s\n", err);
        return 1;
    }
    int nlisten = 0;
    IceListenObj* listen = nullptr;
    if (!IceListenForConnections(&nlisten, &listen, sizeof err, err)) {
        fprintf(stderr, "IceListenForConnections: %s\n", err);
        return 1;
    }
    std::string ids;
    for (int i = 0; i < nlisten; i++) {
        IceSetHostBasedAuthProc(listen[i], hostauth);
        char* id = IceGetListenConnectionString(listen[i]);
        if (id && local(id)) ids += (ids.empty() ? "" : ",") + std::string(id);
        free(id);
    }
    report("listening " + ids);

    time_t end = time(nullptr) + lifetime;
    std::string input;
    bool inputopen = true;
    while (!stop && inputopen && time(nullptr) < end) {
        std::vector<pollfd> fds;
        fds.push_back({0, POLLIN, 0});
        for (int i = 0; i < nlisten; i++)
            fds.push_back({IceGetListenConnectionNumber(listen[i]), POLLIN, 0});
        for (auto& c : clients)
            fds.push_back({IceConnectionNumber(c.ice), POLLIN, 0});
        if (poll(fds.data(), fds.size(), 200) <= 0) continue;

        if (fds[0].revents) {
            char buf[256];
            ssize_t n = read(0, buf, sizeof buf);
            if (n <= 0)
                inputopen = false;
            else
                input.append(buf, n);
            size_t nl;
            while ((nl = input.find('\n')) != std::string::npos) {
                std::string line = input.substr(0, nl);
                input.erase(0, nl + 1);
                if (line == "quit")
                    inputopen = false;
                else
                    command(line.c_str());
            }
        }
        for (int i = 0; i < nlisten; i++) {
            if (!fds[1 + i].revents) continue;
            IceAcceptStatus st;
            IceConn ice = IceAcceptConnection(listen[i], &st);
            if (ice && st == IceAcceptSuccess) clients.push_back({ice, nullptr});
        }
        // Connections in fd order as polled; a client that goes away is dropped.
        std::vector<IceConn> ready;
        for (size_t i = 1 + nlisten; i < fds.size(); i++)
            if (fds[i].revents)
                for (auto& c : clients)
                    if (IceConnectionNumber(c.ice) == fds[i].fd) ready.push_back(c.ice);
        for (IceConn ice : ready) {
            bool known = false;
            for (auto& c : clients)
                known = known || c.ice == ice;
            if (!known) continue;
            // A client that closed its connection was dropped in closeconnection (libICE
            // defers the free until here); one that vanished is reported.
            if (IceProcessMessages(ice, nullptr, nullptr) == IceProcessMessagesIOError) {
                report("connection-lost");
                drop(ice);
            }
        }
    }
    while (!clients.empty())
        drop(clients.front().ice);
    IceFreeListenObjs(nlisten, listen);
    return 0;
}
