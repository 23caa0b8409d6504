// A minimal Unity component: the sample of the Unity package (com.kvsdkeng.kvsdk, Samples~),
// which also carries the binding and the native plugins with their import settings. Without the
// package, copy bindings/csharp/src/*.cs and this file into Assets/, and the native pair of
// each platform into one plugin folder: Assets/Plugins/x86_64/ KvSDKEng.dll and KvSDKMod.dll
// (Windows), Assets/Plugins/Linux/x86_64/ libKvSDKEng.so and libKvSDKMod.so from the redist
// folder (Linux; these names, not the .so.1 files of the archive). There is no library for
// macOS or ARM64: there the component stays quiet.
// The lights of the Pell devices flash whenever the player takes a hit.
using System;
using KvSDK;
using UnityEngine;

public class FlashOnHit : MonoBehaviour
{
    private LightingSession m_session;

    private void OnEnable()
    {
#if UNITY_EDITOR_WIN || UNITY_EDITOR_LINUX || UNITY_STANDALONE_WIN || UNITY_STANDALONE_LINUX
        try
        {
            m_session = new LightingSession(Product.Pell);
        }
        catch (KvSDKException e)
        {
            Debug.LogWarning("Lighting unavailable: " + e.Message);
        }
        catch (Exception e) when (e is DllNotFoundException || e is EntryPointNotFoundException ||
                                  e is BadImageFormatException)
        {
            // The plugin is missing, or is not the one of this CPU: the game goes on unlit.
            Debug.LogWarning("Lighting library not loaded: " + e.Message);
        }
#endif
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
