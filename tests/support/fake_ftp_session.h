// An FTP client stand-in that records the calls made to it; a command can
// be made to fail once.
#pragma once

#include "upload/ftp_session.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace vistrel::test {

class Fake_Session : public Ftp_Session {
public:
    std::vector<std::string> calls;
    std::string pwd = "/";
    std::vector<std::string> listing;
    std::map<std::string, FTP_Error> failures; // by call name, each used once
    bool connected = false;
    bool logged_in = false;
    bool refuse_login = false;
    std::string put_content; // what the last store read from the local file
    // Called with every call's name, after it is recorded and before it fails.
    std::function<void(const std::string&)> on_call;

    void Set_Server(const std::string& server) override { calls.push_back("server " + server); }
    void Set_Credentials(const std::string& user, const std::string&) override {
        calls.push_back("user " + user);
    }
    bool Is_Connected() override { return connected; }
    bool Logged_In() const override { return logged_in; }
    void Connect() override {
        Call("CONNECT");
        connected = true;
        logged_in = false;
    }
    void Login() override {
        Call("LOGIN");
        if (refuse_login)
            throw FTP_Error(530, "Login incorrect.", "PASS");
        logged_in = true;
    }
    std::string Get_Current_Dir() override {
        Call("PWD");
        return pwd;
    }
    void Change_Dir_Up() override { Call("CDUP"); }
    void Change_Dir(const std::string& name) override {
        Call("CWD " + name);
        pwd = "/" + name;
    }
    void Make_Dir(const std::string& name) override { Call("MKD " + name); }
    void List_Dir() override { Call("LIST"); }
    const std::vector<std::string>& List_Result() const override { return listing; }
    void Put_File(const std::string& local, const std::string& remote, bool append) override {
        std::ifstream in(local, std::ios::binary);
        put_content.assign(std::istreambuf_iterator<char>(in), {});
        Call((append ? "APPE " : "STOR ") + remote);
    }
    void Abort_Transfer() noexcept override { calls.push_back("ABOR"); }
    void Disconnect() noexcept override {
        calls.push_back("QUIT");
        connected = logged_in = false;
    }
    void Close_For_Good() noexcept override {
        calls.push_back("END");
        connected = logged_in = false;
    }

private:
    void Call(const std::string& call) {
        calls.push_back(call);
        if (on_call)
            on_call(call);
        const std::string word = call.substr(0, call.find(' '));
        if (auto it = failures.find(word); it != failures.end()) {
            const FTP_Error e = it->second;
            failures.erase(it);
            throw e;
        }
    }
};

} // namespace vistrel::test
