// The web panel's one page: markup, style and script in one document, no external files (the
// stage has no internet). Phone held upright: one column; tablet held sideways: the strips beside
// the controls.
#include "web/web_panel.h"

const char web_page_html[] = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width,initial-scale=1,user-scalable=no">
<title>ZT4</title>
<style>
*{box-sizing:border-box}
body{margin:0;background:#111;color:#ddd;font:15px system-ui,sans-serif;-webkit-user-select:none;user-select:none}
#app{display:grid;gap:8px;padding:8px;grid-template-columns:1fr}
@media (orientation:landscape) and (min-width:800px){#app{grid-template-columns:3fr 2fr}#strips{grid-row:span 3}#strips{grid-template-columns:1fr 1fr}}
#lcd{background:#233d1c;color:#b8f59a;font:20px/1.3 monospace;padding:6px 10px;border-radius:6px;white-space:pre;min-height:60px}
#status{font-size:12px;color:#888}
.meter{height:8px;background:#333;border-radius:4px;margin:3px 0;overflow:hidden}
.meter div{height:100%;background:linear-gradient(90deg,#3c3 70%,#dd3 85%,#e33);width:0}
#strips{display:grid;gap:6px;grid-template-columns:1fr 1fr;align-content:start}
.strip{background:#222;border:2px solid #333;border-radius:8px;padding:6px;min-height:92px;position:relative}
.strip.sel{border-color:#5af}
.strip .top{display:flex;justify-content:space-between;font-weight:600}
.strip .word{padding:0 6px;border-radius:4px;font-size:13px}
.strip canvas{width:100%;height:34px;display:block;margin:3px 0;background:#181818}
.strip .bar{height:4px;background:#333}.strip .bar div{height:100%;width:0;background:#5af}
.strip .mix{font-size:12px;color:#999;display:flex;justify-content:space-between}
.empty .word{background:#333;color:#888}.playing .word{background:#2a6;color:#fff}
.stopped .word{background:#666;color:#fff}.recording .word{background:#d22;color:#fff}
.overdubbing .word{background:#e80;color:#000}.replacing .word{background:#a3c;color:#fff}
.busy .word{background:#36c;color:#fff}
.buttons{display:grid;gap:6px;grid-template-columns:repeat(4,1fr)}
button{min-height:48px;font-size:15px;border:0;border-radius:8px;background:#3a3a3a;color:#eee;touch-action:manipulation}
button:active{background:#5af;color:#000}
button.rec{background:#822}button.play{background:#264}
#log{background:#000;color:#9c9;font:12px monospace;height:140px;overflow:auto;white-space:pre-wrap;padding:4px;border-radius:6px}
h2{font-size:13px;margin:4px 0;color:#888;font-weight:500}
</style></head><body>
<div id="app">
<section id="head">
<div id="lcd"><span id="l0"></span>
<span id="l1"></span></div>
<div>In<div class="meter"><div id="min"></div></div>Out<div class="meter"><div id="mout"></div></div></div>
<div id="status">connecting…</div>
</section>
<section id="strips"></section>
<section>
<h2>Transport (selected track)</h2>
<div class="buttons">
<button class="rec" data-fn="Rec/Dub">Rec/Dub</button><button class="play" data-fn="Play/Stop">Play/Stop</button>
<button data-fn="Undo">Undo</button><button data-fn="Redo">Redo</button>
<button data-fn="Track Erase">Erase</button><button data-fn="Double">Multiply ×2</button>
<button data-fn="Replace">Replace</button><button data-fn="Stop">Stop</button>
<button data-fn="All Play">All Play</button><button data-fn="All Stop">All Stop</button>
<button data-fn="Next Track">Next Tr</button><button data-fn="Prev Track">Prev Tr</button>
</div>
<h2>Panel</h2>
<div class="buttons">
<button data-key="0880">Back</button><button data-enc="-1">◀ Enc</button><button data-enc="1">Enc ▶</button><button data-key="1080">Select</button>
<button data-key="0810">User 1</button><button data-key="0820">User 2</button><button data-key="1010">User 3</button><button data-key="1020">User 4</button>
<button data-key="2080">Trk 1</button><button data-key="2040">Trk 2</button><button data-key="2010">Trk 3</button><button data-key="2020">Trk 4</button>
<button data-key="4080">Trk 5</button><button data-key="4040">Trk 6</button><button data-key="4010">Trk 7</button><button data-key="4020">Trk 8</button>
<button data-key="8080">All Tracks</button><button data-key="8081">Drums</button><button data-key="0840">Rec key</button><button data-key="1040">Play key</button>
</div>
</section>
<section><h2>Log</h2><div id="log"></div></section>
</div>
<script>
"use strict";
const $=id=>document.getElementById(id);
const strips=[],waves=[];let ws=null,state=null;
window.zt4={updates:0,errors:[],waves:waves};
for(let t=0;t<8;t++){
 const d=document.createElement('div');d.className='strip empty';d.id='strip'+(t+1);d.dataset.state='empty';
 d.innerHTML='<div class="top"><span>'+(t+1)+'</span><span class="len">--</span><span class="word">empty</span></div><canvas width="300" height="34"></canvas><div class="bar"><div></div></div><div class="mix"><span class="lv"></span><span class="pn"></span><span class="fb"></span></div>';
 d.onclick=()=>send('fn Select Track '+(t+1));
 $('strips').appendChild(d);strips.push(d);waves.push([]);
}
function send(m){if(ws&&ws.readyState===1){ws.send(m);window.zt4.sent=performance.now()}}
document.querySelectorAll('button').forEach(b=>b.onclick=()=>{
 if(b.dataset.fn)send('fn '+b.dataset.fn);else if(b.dataset.key)send('key '+b.dataset.key);else if(b.dataset.enc)send('enc '+b.dataset.enc)});
function glyphs(s){return s.replace(/\u00fe/g,'\u2588').replace(/\u00f9/g,'\u2022')}
function secs(f){return (f/48000).toFixed(1)+'s'}
function drawWave(t){
 const c=strips[t].querySelector('canvas'),g=c.getContext('2d'),w=waves[t],n=w.length/2;
 g.clearRect(0,0,c.width,c.height);if(!n)return;g.fillStyle='#7ad';
 for(let i=0;i<n;i++){const x=Math.floor(i*c.width/n),x2=Math.floor((i+1)*c.width/n);
  const lo=17-w[2*i]*17/128,hi=17-w[2*i+1]*17/128;g.fillRect(x,hi,Math.max(1,x2-x),Math.max(1,lo-hi))}
}
function apply(m){
 if(m.t==='state'){
  state=m;window.zt4.updates++;
  $('l0').textContent=glyphs(m.lines[0]);$('l1').textContent=glyphs(m.lines[1]);
  $('min').style.width=m.in+'%';$('mout').style.width=m.out+'%';
  m.tr.forEach((r,t)=>{const d=strips[t],[word,len,pos,lv,pn,fb]=r;
   if(d.dataset.state!==word){d.dataset.state=word;d.dataset.changed=performance.now();d.className='strip '+word;d.querySelector('.word').textContent=word}
   d.classList.toggle('sel',m.sel===t+1);
   d.dataset.length=len;d.querySelector('.len').textContent=len?secs(len):'--';
   d.querySelector('.bar div').style.width=(len?Math.min(100,pos*100/len):0)+'%';
   d.querySelector('.lv').textContent='Lvl '+lv;d.querySelector('.pn').textContent='Pan '+pn;d.querySelector('.fb').textContent='Fb '+fb+'%'});
 }else if(m.t==='wave'){waves[m.n]=m.w;strips[m.n].dataset.wave=m.w.length/2;drawWave(m.n)}
 else if(m.t==='log'){const l=$('log');l.textContent=(l.textContent+m.text).slice(-8000);l.scrollTop=l.scrollHeight}
 else if(m.t==='error'){window.zt4.errors.push(m.text);$('status').textContent='refused: '+m.text}
}
function connect(){
 ws=new WebSocket((location.protocol==='https:'?'wss://':'ws://')+location.host+'/socket'+location.search);
 ws.onopen=()=>{$('status').textContent='connected'};
 ws.onmessage=e=>{try{apply(JSON.parse(e.data))}catch(x){}};
 ws.onclose=()=>{$('status').textContent='disconnected, retrying…';setTimeout(connect,1000)};
}
connect();
</script></body></html>
)PAGE";
