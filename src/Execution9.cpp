// Execution9: presents and cross-GPU transfers of one device.
#include "Execution9.h"

#include "Report.h"

Execution9::Execution9(Device* pDevice) : m_apiCopy(false), m_pDevice(pDevice) {
    VESSA_CHECK_AT(30, Error, 11072, m_pDevice, "Execution9::Execution9: NULL m_pDevice");
}
