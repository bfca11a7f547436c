; Has the signed-in user's shell open a file, so that what starts runs with
; that user's rights, not the installer's. The documented way: the desktop's
; folder view (IShellWindows::FindWindowSW, the top-level browser's active
; shell view) gives the shell's own IShellDispatch2::ShellExecute. Where
; that is not to be had (no shell, or one whose view lacks it), a new
; explorer.exe is asked, which hands the request to the running shell.
Function OpenAsUser
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    StrCpy $R7 1 ; failed until ShellExecute answers S_OK
    System::Call 'ole32::CoInitializeEx(p 0, i 2) i .R2' ; COINIT_APARTMENTTHREADED
    Push $R2
    ; VARIANTs: VT_I4 CSIDL_DESKTOP (0) where the desktop is, VT_EMPTY for the rest.
    System::Call '*(i 3, i 0, p 0, p 0) p .R5'
    System::Call '*(&i24) p .R6'
    ; CLSID_ShellWindows, CLSCTX_LOCAL_SERVER, IID_IShellWindows
    System::Call 'ole32::CoCreateInstance(g "{9BA05972-F6A8-11CF-A442-00A0C90A8F39}", p 0, i 4, g "{85CB6900-4D95-11CF-960C-0080C7F4EE85}", *p .R1) i .R2'
    ${If} $R2 = 0
        ; FindWindowSW(SWC_DESKTOP, SWFO_NEEDDISPATCH) -> IDispatch
        System::Call '$R1->15(p R5, p R6, i 8, *i .R3, i 1, *p .R4) i .R2'
        System::Call '$R1->2()'
        ${If} $R2 = 0
        ${AndIf} $R4 P<> 0
            ; IServiceProvider
            System::Call '$R4->0(g "{6D5140C1-7436-11CE-8034-00AA006009FA}", *p .R1) i .R2'
            System::Call '$R4->2()'
            ${If} $R2 = 0
                ; QueryService(SID_STopLevelBrowser, IID_IShellBrowser)
                System::Call '$R1->3(g "{4C96BE40-915C-11CF-99D3-00AA004AE837}", g "{000214E2-0000-0000-C000-000000000046}", *p .R4) i .R2'
                System::Call '$R1->2()'
                ${If} $R2 = 0
                    ; IShellBrowser::QueryActiveShellView
                    System::Call '$R4->15(*p .R1) i .R2'
                    System::Call '$R4->2()'
                    ${If} $R2 = 0
                        ; IShellView::GetItemObject(SVGIO_BACKGROUND, IID_IDispatch)
                        System::Call '$R1->15(i 0, g "{00020400-0000-0000-C000-000000000046}", *p .R4) i .R2'
                        System::Call '$R1->2()'
                        ${If} $R2 = 0
                            ; IShellFolderViewDual
                            System::Call '$R4->0(g "{E7A1AF80-4D96-11CF-960F-00C04FD91B94}", *p .R1) i .R2'
                            System::Call '$R4->2()'
                            ${If} $R2 = 0
                                ; get_Application -> IDispatch of the shell
                                System::Call '$R1->7(*p .R4) i .R2'
                                System::Call '$R1->2()'
                                ${If} $R2 = 0
                                    ; IShellDispatch2
                                    System::Call '$R4->0(g "{A4C6892C-3BA9-11D2-9DEA-00C04FB16162}", *p .R1) i .R2'
                                    System::Call '$R4->2()'
                                    ${If} $R2 = 0
                                        System::Call 'oleaut32::SysAllocString(w R0) p .R3'
                                        ; ShellExecute(file, args, dir, operation, show): VARIANTs by value go by address
                                        System::Call '$R1->31(p R3, p R6, p R6, p R6, p R6) i .R7'
                                        System::Call 'oleaut32::SysFreeString(p R3)'
                                        System::Call '$R1->2()'
                                    ${EndIf}
                                ${EndIf}
                            ${EndIf}
                        ${EndIf}
                    ${EndIf}
                ${EndIf}
            ${EndIf}
        ${EndIf}
    ${EndIf}
    System::Free $R5
    System::Free $R6
    Pop $R2
    ${If} $R2 = 0 ; S_OK
    ${OrIf} $R2 = 1 ; S_FALSE: this thread had it already
        System::Call 'ole32::CoUninitialize()'
    ${EndIf}
    ${If} $R7 <> 0
        Exec '"$WINDIR\explorer.exe" "$R0"'
    ${EndIf}
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd
