// A minimal Unity component (not built here): copy bindings/csharp/src/*.cs and this file into
// Assets/, and put the native library where Unity finds plugins (Assets/Plugins/x86_64/
// KvSDKEng.dll with KvSDKMod.dll beside it, or libKvSDKEng.so and libKvSDKMod.so on Linux).
// The lights of the Pell devices flash whenever the player takes a hit.
using KvSDK;
using UnityEngine;

public class FlashOnHit : MonoBehaviour
{
    private LightingSession m_session;

    private void OnEnable()
    {
        try
        {
            m_session = new LightingSession(Product.Pell);
        }
        catch (KvSDKException e)
        {
            Debug.LogWarning("Lighting unavailable: " + e.Message);
        }
    }

    // Called by the game, e.g. from the player's health component. Returns at once: the library
    // plays the flash on its own threads, so the frame is not held up.
    public void OnPlayerHit()
    {
        if (m_session == null) return;
        try
        {
            m_session.Flash(Product.Pell, LightSelector.Light1, 2);
        }
        catch (KvSDKException e)
        {
            Debug.LogWarning(e.Message);
        }
    }

    private void OnDisable()
    {
        if (m_session != null) m_session.Dispose();
        m_session = null;
    }
}
