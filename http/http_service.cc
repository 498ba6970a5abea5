#include "http/http_service.h"

#include <optional>

#include "http/handlers.h"

namespace quillmere {
namespace {

constinit HttpService program_http_service;

}  // namespace

HttpService& ProgramHttpService() {
  return program_http_service;
}

void HttpService::SetUp() {
  setUp_ = true;
  serverHandle_.store(component_.CreateServer(), std::memory_order_release);
  CreateAndStartTaskPool(pool_);
  InstallHttpEventHandlers(component_);
}

bool HttpService::Start(std::string_view address, USHORT port) {
  return component_.Start(ServerHandle(), address, port);
}

bool HttpService::Stop() {
  return component_.Stop(ServerHandle());
}

bool HttpService::GetListenAddress(std::string& address, USHORT& port) {
  return component_.HasStarted(ServerHandle()) &&
         component_.GetListenAddress(ServerHandle(), address, port);
}

void HttpService::TearDown() {
  if (!setUp_) return;
  setUp_ = false;
  // The pool goes first: a worker still queued or running (a GET waits for the network clock)
  // must finish while the server it answers on still exists. Requests that complete meanwhile
  // are refused by the stopping pool, and their connections are closed (OnMessageComplete).
  pool_.Stop();
  component_.DestroyServer(ServerHandle());
  serverHandle_.store(nullptr, std::memory_order_release);
  pool_.Destroy();
  component_.DestroyListener();
}

}  // namespace quillmere
