#include "moviletta/control/movilettas.h"

#include "moviletta/control/movilettas_impl.h"

namespace moviletta {

Movilettas::Movilettas(Host& host, EventQueue& queue, ModuleState& module, Components components,
                       ControlConfig config)
    : impl_(std::make_unique<MovilettasImpl>(host, queue, module, std::move(components),
                                             std::move(config))) {}

Movilettas::~Movilettas() = default;

void Movilettas::UserControl_Initialize() {
  impl_->UserControl_Initialize();
}
void Movilettas::UserControl_InitProperties() {
  impl_->UserControl_InitProperties();
}
void Movilettas::UserControl_ReadProperties() {
  impl_->UserControl_ReadProperties();
}
void Movilettas::UserControl_WriteProperties() {
  impl_->UserControl_WriteProperties();
}
void Movilettas::UserControl_Terminate() {
  impl_->UserControl_Terminate();
}

std::string Movilettas::SkinPath() const {
  return impl_->SkinPath();
}
void Movilettas::RecordVideo() {
  impl_->RecordVideo();
}
void Movilettas::PlayVideo() {
  impl_->PlayVideo();
}
void Movilettas::StopVideo() {
  impl_->StopVideo();
}
bool Movilettas::Miror() const {
  return impl_->Miror();
}
int32_t Movilettas::ClientStatus() const {
  return impl_->ClientStatus();
}
const std::string& Movilettas::ErrMsg() const {
  return impl_->ErrMsg();
}
void Movilettas::Miror(bool New_Miror) {
  impl_->Miror(New_Miror);
}
void Movilettas::SendByEmail(const std::string& SenderName, const std::string& SenderEmail,
                             const std::string& RecipName, const std::string& MobilePhone,
                             const std::string& EmailList, const std::string& Msg) {
  impl_->SendByEmail(SenderName, SenderEmail, RecipName, MobilePhone, EmailList, Msg);
}
void Movilettas::SendGreeting(int32_t lUserID, const std::string& sSenderName,
                              const std::string& sSenderEmail, const std::string& sRecipList,
                              const std::string& sMsg, const std::string& sPublish,
                              int32_t lSiteSettingID) {
  impl_->SendGreeting(lUserID, sSenderName, sSenderEmail, sRecipList, sMsg, sPublish,
                      lSiteSettingID);
}
std::string Movilettas::GetInstallationID() {
  return impl_->GetInstallationID();
}
void Movilettas::LoadSkin(int32_t lSkinID) {
  impl_->LoadSkin(lSkinID);
}
void Movilettas::SetVideoSize(int32_t lWidth, int32_t lHeight) {
  impl_->SetVideoSize(lWidth, lHeight);
}
Variant Movilettas::LoadClientSettings() {
  return impl_->LoadClientSettings();
}
Variant Movilettas::SetXMLNode(const Variant& sNodeName, const Variant& sNodeValue) {
  return impl_->SetXMLNode(sNodeName, sNodeValue);
}
Variant Movilettas::GenerateMessageXML(int32_t lUserID, const std::string& sSenderName,
                                       const std::string& sSenderEmail,
                                       const std::string& sRecipList, const std::string& sMsg,
                                       const std::string& sPublish, int32_t lSiteSettingID) {
  return impl_->GenerateMessageXML(lUserID, sSenderName, sSenderEmail, sRecipList, sMsg, sPublish,
                                   lSiteSettingID);
}

HResult Movilettas::GetInterfaceSafetyOptions(const Guid* riid, uint32_t* pdwSupportedOptions,
                                              uint32_t* pdwEnabledOptions) const {
  return impl_->GetInterfaceSafetyOptions(riid, pdwSupportedOptions, pdwEnabledOptions);
}
HResult Movilettas::SetInterfaceSafetyOptions(const Guid* riid, uint32_t dwOptionsSetMask,
                                              uint32_t dwEnabledOptions) const {
  return impl_->SetInterfaceSafetyOptions(riid, dwOptionsSetMask, dwEnabledOptions);
}

void Movilettas::DetachFromHostThread() {
  impl_->DetachFromHostThread();
}
void Movilettas::Wait(const Variant& seconds) {
  impl_->Wait(seconds);
}

}  // namespace moviletta
