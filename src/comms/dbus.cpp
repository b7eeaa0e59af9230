#include "comms/dbus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSet>
#include <QStringList>
#include <cctype>

#include "comms/dde.h"

namespace {

QStringList ToStringList(const std::vector<std::string>& lines) {
  QStringList list;
  for (const std::string& line : lines) list.append(QString::fromStdString(line));
  return list;
}

std::vector<std::string> FromStringList(const QStringList& list) {
  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(list.size()));
  for (const QString& line : list) lines.push_back(line.toStdString());
  return lines;
}

const char* const kIntrospection = R"(  <interface name="org.qelwin.DdeServer">
    <method name="Poke">
      <arg name="item" type="s" direction="in"/>
      <arg name="text" type="s" direction="in"/>
    </method>
    <method name="Execute">
      <arg name="lines" type="as" direction="in"/>
      <arg name="lines" type="as" direction="out"/>
    </method>
    <method name="Request">
      <arg name="item" type="s" direction="in"/>
      <arg name="lines" type="as" direction="out"/>
    </method>
    <property name="ODebServer" type="as" access="read"/>
  </interface>
)";

}  // namespace

class TDBusDdeServer::TObject : public QDBusVirtualObject {
 public:
  TObject(TDdeServer& server, QDBusConnection connection)
      : Server(server), Watcher(QString(), connection, QDBusServiceWatcher::WatchForUnregistration) {
    QObject::connect(&Watcher, &QDBusServiceWatcher::serviceUnregistered, [this](const QString& client) {
      Clients.remove(client);
      Watcher.removeWatchedService(client);
      if (Clients.isEmpty()) Server.ConversationClosed();
    });
  }

  QString introspect(const QString&) const override { return QString::fromLatin1(kIntrospection); }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    const QString interface = message.interface();
    const QString member = message.member();
    if (interface == QLatin1String("org.freedesktop.DBus.Properties")) return Properties(message, connection);
    if (!interface.isEmpty() && interface != QLatin1String(kInterface)) return false;
    OpenConversation(message.service());
    const QList<QVariant> args = message.arguments();
    const QString signature = message.signature();
    if (member == QLatin1String("Poke") && signature == QLatin1String("ss")) {
      if (!RequireItem(args[0].toString(), message, connection)) return true;
      Server.Poke(args[1].toString().toStdString());
      connection.send(message.createReply());
      return true;
    }
    if (member == QLatin1String("Execute") && signature == QLatin1String("as")) {
      const std::vector<std::string> replaced = Server.Execute(FromStringList(args[0].toStringList()));
      connection.send(message.createReply(QVariant(ToStringList(replaced))));
      return true;
    }
    if (member == QLatin1String("Request") && signature == QLatin1String("s")) {
      if (!RequireItem(args[0].toString(), message, connection)) return true;
      connection.send(message.createReply(QVariant(ToStringList(Server.ItemLines))));
      return true;
    }
    connection.send(message.createErrorReply(QDBusError::UnknownMethod,
                                             QStringLiteral("No method %1 with signature \"%2\" on %3")
                                                 .arg(member, signature, QLatin1String(kInterface))));
    return true;
  }

 private:
  bool RequireItem(const QString& item, const QDBusMessage& message, const QDBusConnection& connection) {
    if (item == QLatin1String(TDdeServer::kItem)) return true;
    connection.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No item %1 on topic %2")
                                                                          .arg(item, QLatin1String(TDdeServer::kTopic))));
    return false;
  }

  bool Properties(const QDBusMessage& message, const QDBusConnection& connection) {
    const QList<QVariant> args = message.arguments();
    const QString member = message.member();
    const QVariant lines = QVariant(ToStringList(Server.ItemLines));
    if (member == QLatin1String("Get") && args.size() == 2 && args[0].toString() == QLatin1String(kInterface) &&
        args[1].toString() == QLatin1String(TDdeServer::kItem)) {
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(lines))));
      return true;
    }
    if (member == QLatin1String("GetAll") && args.size() == 1 && args[0].toString() == QLatin1String(kInterface)) {
      QVariantMap all;
      all.insert(QLatin1String(TDdeServer::kItem), lines);
      connection.send(message.createReply(QVariant(all)));
      return true;
    }
    if (member == QLatin1String("Set")) {
      connection.send(message.createErrorReply(QDBusError::PropertyReadOnly, QStringLiteral("The item is read-only")));
      return true;
    }
    connection.send(message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("No such property")));
    return true;
  }

  void OpenConversation(const QString& client) {
    if (client.isEmpty() || Clients.contains(client)) return;
    Clients.insert(client);
    Watcher.addWatchedService(client);
    Server.ConversationOpened();
  }

  TDdeServer& Server;
  QDBusServiceWatcher Watcher;
  QSet<QString> Clients;
};

TDBusDdeServer::TDBusDdeServer(TDdeServer& server) : Server(server) {}

TDBusDdeServer::~TDBusDdeServer() { Stop(); }

std::string TDBusDdeServer::ServiceName(const std::string& executableName) {
  std::string element;
  for (const char c : executableName) {
    const bool allowed = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
    element.push_back(allowed && static_cast<unsigned char>(c) < 128 ? c : '_');
  }
  if (element.empty() || std::isdigit(static_cast<unsigned char>(element[0]))) element.insert(0, "_");
  return "org.qelwin." + element;
}

bool TDBusDdeServer::Start(const std::string& executableName, std::string* error) {
  Stop();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    if (error) *error = "no session bus: " + bus.lastError().message().toStdString();
    return false;
  }
  Object = std::make_unique<TObject>(Server, bus);
  if (!bus.registerVirtualObject(QLatin1String(kObjectPath), Object.get())) {
    Object.reset();
    if (error) *error = std::string("the object ") + kObjectPath + " cannot be registered on the session bus";
    return false;
  }
  Name = ServiceName(executableName);
  NameOwned = bus.registerService(QString::fromStdString(Name));
  if (!NameOwned) {
    if (error) {
      *error = "the name " + Name + " is taken; the topic is reachable as " + bus.baseService().toStdString();
    }
    return false;
  }
  return true;
}

void TDBusDdeServer::Stop() {
  if (!Object) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (NameOwned) bus.unregisterService(QString::fromStdString(Name));
  NameOwned = false;
  bus.unregisterObject(QLatin1String(kObjectPath));
  Object.reset();
  Server.ConversationClosed();
}
