// The DDE server on the session bus. The service is named after the
// executable ("org.qelwin." + its name), the topic is the object
// "/QelDdeServer" with the interface "org.qelwin.DdeServer":
//   Poke(item s, text s)       text poked into the item
//   Execute(lines as) -> as    an execute request; the list comes back replaced
//   Request(item s) -> as      the item's lines
// and the item's lines are also its read-only property "ODebServer". A client
// that calls holds the conversation open until it leaves the bus.
#pragma once

#include <memory>
#include <string>

class TDdeServer;

class TDBusDdeServer {
 public:
  static constexpr const char* kObjectPath = "/QelDdeServer";
  static constexpr const char* kInterface = "org.qelwin.DdeServer";

  explicit TDBusDdeServer(TDdeServer& server);
  ~TDBusDdeServer();
  TDBusDdeServer(const TDBusDdeServer&) = delete;
  TDBusDdeServer& operator=(const TDBusDdeServer&) = delete;

  // The bus name for an executable name: characters a bus name cannot hold
  // become "_".
  static std::string ServiceName(const std::string& executableName);

  // Puts the topic on the session bus under the executable's service name.
  // False, with *error saying why, when there is no session bus or the object
  // cannot be registered; a service name already taken (another instance) is
  // reported the same way, and the topic stays reachable by the connection's
  // own name.
  bool Start(const std::string& executableName, std::string* error);
  void Stop();
  const std::string& Service() const { return Name; }

 private:
  class TObject;
  TDdeServer& Server;
  std::unique_ptr<TObject> Object;
  std::string Name;
  bool NameOwned = false;
};
