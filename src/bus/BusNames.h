#pragma once
// The names of vantord's face on the system bus, shared by the service, its client, the policy
// files and the tests. Version 1 of the interface is in its name: a change that breaks a client
// gets a new name.

namespace vantor::bus {

inline constexpr const char* serviceName = "org.vantor.Monitor1";
inline constexpr const char* objectPath = "/org/vantor/Monitor";
inline constexpr const char* interfaceName = "org.vantor.Monitor1";

// The two polkit actions: looking, and changing anything.
inline constexpr const char* viewAction = "org.vantor.monitor.view";
inline constexpr const char* manageAction = "org.vantor.monitor.manage";

// The errors a call may end with besides sd-bus's own.
inline constexpr const char* notAuthorizedError = "org.vantor.Monitor1.Error.NotAuthorized";
inline constexpr const char* refusedError = "org.vantor.Monitor1.Error.Refused";
inline constexpr const char* failedError = "org.vantor.Monitor1.Error.Failed";

}  // namespace vantor::bus
