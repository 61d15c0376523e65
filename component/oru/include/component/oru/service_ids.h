#pragma once

#include "component/oru/i_object.h"

namespace oru::service_ids {

// Interface ids under which the component looks services up in the locator.
inline constexpr InterfaceId kTracer = 0x6EF3329B;
inline constexpr InterfaceId kDataFolder = 0x6DD4BCBB;
inline constexpr InterfaceId kResponseServerEventSubscription = 0xB6567CCF;
inline constexpr InterfaceId kConnectedSink = 0x7893A4C9;
inline constexpr InterfaceId kConnectionErrorSink = 0x8272AAE9;
inline constexpr InterfaceId kIncorrectSettingsSink = 0x518EF183;
inline constexpr InterfaceId kSensitiveDataPolicy = 0x2B6AB0FB;
inline constexpr InterfaceId kSettingsHook = 0x3C545E7D;
inline constexpr InterfaceId kHttpClientFactory = 0x3D405B42;
inline constexpr InterfaceId kFurtherClientService = 0xDDD571CC;
// The two services a client is created with: the client-certificate
// decryptor and the syslog message suffix.
inline constexpr InterfaceId kClientCreationServiceA = 0x009EAFAB;
inline constexpr InterfaceId kClientCreationServiceB = 0xB7B92B46;
// The component's own objects, registered by the host.
inline constexpr InterfaceId kConsumersManager = 0xA87D7271;
inline constexpr InterfaceId kClientServiceFactory = 0xBEAA897C;

}  // namespace oru::service_ids
